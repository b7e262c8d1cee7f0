; Dictionary of the PostgreSQL example.
name server_name;
  type CHAR(33);
  initial -rdbms 'postgresql';
; The virtual cursor CONNS: sessions by decoded state (loads of BACKENDS).
name busy;
  type INTEGER;
  initial 0;
name idle;
  type INTEGER;
  initial 0;
name in_xact;
  type INTEGER;
  initial 0;
name common_state;
  type CHAR(12);
  initial none;
; The virtual cursor TPS: average and trend of XACTS's commit rate.
name avg_tps;
  type CHAR(16);
  initial 0;
name trend_tps;
  type CHAR(16);
  initial 0;
; The columns of PGDIRFS, filled by the words of df's line; the sizes
; in kB are text, since a large file system passes 2^31 kB.
name fs_name;
  type CHAR(64);
name fs_kb;
  type CHAR(16);
name fs_used_kb;
  type CHAR(16);
name fs_avail_kb;
  type CHAR(16);
name fs_capacity;
  type CHAR(5);
name fs_mounted;
  type CHAR(64);
end;
