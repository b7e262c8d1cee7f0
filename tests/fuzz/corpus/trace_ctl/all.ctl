traceall;
show_row SESSIONS;
show_cursor LOCKS;
traced NOSUCH;
end;
