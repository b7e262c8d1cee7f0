; No cursor is traced in the PostgreSQL example; name cursors here to see
; their fetches in detail, e.g. "trace SESSIONS;".
end;
