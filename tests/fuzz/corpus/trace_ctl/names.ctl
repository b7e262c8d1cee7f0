trace SESSIONS, CPUSTAT;
tracem LOCKS;
end;
