; No cursor is traced in the SQLite example; name cursors here to see
; their fetches in detail, e.g. "trace OBJSIZE;".
end;
