; Trace the two interval cursors of the demo.
trace SESSIONS, CPUSTAT;
end;
