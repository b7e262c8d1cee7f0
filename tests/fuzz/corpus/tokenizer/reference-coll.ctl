; Cursors of the demo collector.
;
; Each block names a cursor, gives the model INSERT (the attribute table,
; its columns and the host variables that feed them) and its schedule.
cursor SESSIONS;
  INSERT INTO demo.sessions (user_name, program, cpu) VALUES (:user_name, :program, :INT!cpu);
  insert_where status = 'ACTIVE';
  interval 5;
  limit 500;
; Column functions over the last 12 samples.
cursor CPUSTAT;
  INSERT INTO demo.cpustat (busy, avg_busy, peak) VALUES (:busy, :12AVG!busy, :HW!peak);
  interval 5;
  limit 1;
  samples 12;
; Only on request of the agent; rows stay fresh for 30 seconds.
cursor LOCKS;
  INSERT INTO demo.locks (owner, object) VALUES (:owner, :object);
  demand;
  stale 30;
; Class 3 runs only where the collector distributor names class 3 (it does).
cursor NIGHTLY;
  INSERT INTO demo.space (tablespace, free_mb) VALUES (:tablespace, :FLOAT!free_mb);
  class 3;
  interval 3600;
  limit 100;
  Mon_Fri_start 2200;
  Mon_Fri_end 0400;
; The demo stops by itself after 12 seconds.
  go_home 12;
end;
