; Dictionary elements used as host variables by the demo cursors.
name server_name;
  type CHAR(33);
  initial -rdbms 'unknown';
name logon;
  type char(30);
  initial %COLL_LOGON;
name max_rows;
  type INTEGER;
  initial 500;
name kf1_filter;
  type CHAR(40);
  initial %COLL_DISABLE_CURSOR_KF1 all;
end;
