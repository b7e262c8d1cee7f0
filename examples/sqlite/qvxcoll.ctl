; Cursors of the SQLite example: what a SQLite database file holds and how
; much room it takes. Run it with COLL_CONNECT=sqlite:<file> (see
; scripts/demo).
;
; Each block's INSERT names the attribute table the rows are delivered as
; (its third word) and binds the columns to host variables. "samples 1"
; keeps only the rows of the latest run. "^64" sends a text column 64
; characters wide (without it the width is what the database describes).
;
; Where the SELECT that the INSERT's host variables would give cannot say
; it, insert_select gives the SQL; its column aliases are the host variable
; names, which is how the result columns are bound to the columns.
;
; Space per table and index, from the dbstat virtual table: pages in use,
; bytes of those pages and bytes of payload, biggest first.
cursor OBJSIZE;
  INSERT INTO sqlite.object_size (name, pages, bytes, payload) VALUES (:name^64, :INT!pages, :INT!bytes, :INT!payload);
  insert_select SELECT name AS name, COUNT(*) AS pages, SUM(pgsize) AS bytes, SUM(payload) AS payload FROM dbstat GROUP BY name ORDER BY SUM(pgsize) DESC, name;
  interval 5;
  limit 500;
  samples 1;
  ; After each run the name of the biggest object goes to SUMMARY.
  load name -> SUMMARY.largest from MAX bytes;
; Size of the file in pages, the page size and the pages on the free list,
; and the share of the pages in use: a math column, computed by the
; collector from the row's other columns (one decimal, 8 characters wide;
; the SELECT does not give it).
cursor DBPAGES;
  INSERT INTO sqlite.pages (page_count, page_size, freelist_count, used_pct) VALUES (:INT!page_count, :INT!page_size, :INT!freelist_count, :used_pct^8);
  insert_select SELECT p.page_count AS page_count, s.page_size AS page_size, f.freelist_count AS freelist_count FROM pragma_page_count() AS p, pragma_page_size() AS s, pragma_freelist_count() AS f;
  math decimal 1 used_pct ( page_count - freelist_count ) * 100 / page_count;
  interval 5;
  limit 1;
  samples 1;
; dbstat reads every page of the file: on a file of more than 100000
; pages OBJSIZE is held (not run, not served), and it is released when
; the file is smaller again. The page count itself stays as it is.
  decode page_count > 100000 , 'hold cursor OBJSIZE';
  decode page_count DEFAULT 'release cursor OBJSIZE';
; How the file is kept: its auto_vacuum mode (0, 1 or 2) in words, and
; its text encoding.
cursor DBMODE;
  INSERT INTO sqlite.mode (vacuum, encoding) VALUES (:vacuum^12, :encoding^8);
  insert_select SELECT a.auto_vacuum AS vacuum, e.encoding AS encoding FROM pragma_auto_vacuum() AS a, pragma_encoding() AS e;
  interval 5;
  limit 1;
  samples 1;
  decode vacuum = 0 , 'NONE';
  decode vacuum = 1 , 'FULL';
  decode vacuum = 2 , 'INCREMENTAL';
  decode vacuum DEFAULT 'UNKNOWN';
; The schema objects: tables, indexes, views and triggers with the table
; they belong to. The SELECT is generated from the host variables.
cursor SCHEMA;
  INSERT INTO sqlite_schema (type, name, tbl_name) VALUES (:type^8, :name^64, :tbl_name^64);
  insert_where name NOT LIKE 'sqlite_%' ORDER BY type, name;
  interval 5;
  limit 500;
  samples 1;
  ; How many of the rows are tables and how many indexes, counted into
  ; SUMMARY after each run.
  load COUNT name -> SUMMARY.tables where type = 'table';
  load COUNT name -> SUMMARY.indexes where type = 'index';
; The statement that made each table, index, view and trigger, reformatted
; by column exits: the name right-aligned (R_JUSTIFY), the kind followed
; by the name ("table:orders", CONCAT appends the trimmed name), and the
; statement without its first word: SQLite keeps every one beginning with
; "CREATE ", so SUBSTR from position 8 starts at "TABLE", "INDEX" ...
; set_len gives select items other fetch lengths than their types would:
; names are cut to 24 bytes, and the statements (TEXT, fetched 384 bytes
; wide by default) widened to 2048 so that a long one is read whole
; before SUBSTR keeps 80 characters of it.
cursor OBJSQL;
  INSERT INTO sqlite.object_sql (name, kind, statement) VALUES (:name, :kind, :statement^80);
  insert_select SELECT name AS name, type || ':' AS kind, sql AS statement FROM sqlite_schema WHERE sql IS NOT NULL AND name NOT LIKE 'sqlite_%' ORDER BY type, name;
  set_len name 24;
  set_len kind 40;
  set_len statement 2048;
  column_exit name R_JUSTIFY;
  column_exit kind CONCAT name;
  column_exit statement SUBSTR ( 8 , 80 );
  interval 5;
  limit 500;
  samples 1;
; One row that the loads above fill: it is never run itself, its columns
; are the DICT.CTL elements of the same names (their initial values stand
; until the first load, and come back after a run without rows).
cursor SUMMARY;
  INSERT INTO sqlite.summary (largest, tables, indexes) VALUES (:largest, :INT!tables, :INT!indexes);
  virtual;
; How full the pages are, as one summary row: the average and the largest
; number of bytes in use in a page, the object that page belongs to (MAX!
; gives the other columns from the row it picks) and the largest file size
; in pages seen since the collector started (HW! keeps its mark over every
; run). "history" appends the summary row to PAGEUSE.HST.
cursor PAGEUSE;
  INSERT INTO sqlite.page_use (name, avg_used, max_used, file_pages) VALUES (:name^64, :AVG!used^12, :MAX!used^12, :HW!file_pages^12);
  insert_select SELECT name AS name, pgsize - unused AS used, (SELECT page_count FROM pragma_page_count()) AS file_pages FROM dbstat ORDER BY name, pageno;
  interval 5;
  limit 5000;
  samples 1;
  history;
; The space of each table and index with its type and table, joined by
; the collector: "base SCHEMA on name->name" picks SCHEMA's row of the
; same name for every row, and SCHEMA.type and SCHEMA.tbl_name read it.
; pre_cursor runs SCHEMA first, so the names are current.
cursor OBJTYPE;
  INSERT INTO sqlite.object_type (name, bytes, type, tbl_name) VALUES (:name^64, :INT!bytes, :SCHEMA.type^8, :SCHEMA.tbl_name^64);
  insert_select SELECT name AS name, SUM(pgsize) AS bytes FROM dbstat WHERE name NOT LIKE 'sqlite_%' GROUP BY name ORDER BY 2 DESC, 1;
  base SCHEMA on name->name;
  pre_cursor SCHEMA;
  interval 5;
  limit 500;
; Cursors whose rows come from a command instead of the database (fetch
; exits). fetch_exit says how the command's output lines become rows:
; fetchx2 splits a line into words, fetchx5 gives the whole line to every
; column; "t" right after the name runs the command under a time limit
; (t10: 10 seconds, 30 without a number) and reads at most 300 lines, or
; twice the limit when that is less. script is the command line. A column
; takes its width from ^n (64 characters for text, 16 for numbers
; without it).
;
; File-system use, from "df -P": one row per file system, df's heading
; line skipped (start_after 1). Two math columns: the percent free and the
; percent used, both of the space that is not reserved (used + available,
; as df's capacity is); a decode turns the percent used into FULL above 90%
; and OK otherwise.
cursor DISKS;
  INSERT INTO host.disks (filesystem, blocks, used, avail, capacity, mounted, free_pct, state) VALUES (:filesystem^64, :INT!blocks, :INT!used, :INT!avail, :capacity^5, :mounted^64, :free_pct^8, :state^4);
  fetch_exit fetchx2t10;
  script df -P;
  start_after 1;
  math decimal 1 free_pct avail * 100 / ( used + avail );
  math state used * 100 / ( used + avail );
  decode state > 90 , 'FULL';
  decode state DEFAULT 'OK';
  interval 5;
  limit 100;
  samples 1;
; The load average, from /proc/loadavg, as one line: the averages over 1,
; 5 and 15 minutes, the running and all processes, the newest process id.
cursor LOADAVG;
  INSERT INTO host.load (loadavg) VALUES (:loadavg^64);
  fetch_exit fetchx5t5;
  script cat /proc/loadavg;
  interval 5;
  limit 1;
  samples 1;
; The file's pages now and at the collector's previous run. "age_to"
; hands the rows of the run before to GROWPREV, a cursor of its own that
; is never run: after the first run both show the first sample, from the
; second run on GROWTH shows the newest and GROWPREV the one before. The
; math columns compare the two: pages added and seconds passed since the
; previous run ("initial 0" until GROWPREV holds a sample). secs is the
; time of the SELECT in seconds since 1970.
cursor GROWTH;
  INSERT INTO sqlite.growth (page_count, secs, grown, elapsed) VALUES (:INT!page_count, :secs, :INT!grown, :INT!elapsed);
  insert_select SELECT p.page_count AS page_count, CAST((julianday('now') - 2440587.5) * 86400 AS INTEGER) AS secs FROM pragma_page_count() AS p;
  math initial 0 decimal 0 grown page_count - GROWPREV.page_count;
  math initial 0 decimal 0 elapsed secs - GROWPREV.secs;
  age_to GROWPREV;
  interval 5;
  limit 1;
; The previous sample of GROWTH. GROWTH's definition replaces what stands
; here (only the name stays), so it is written the same: an agent reading
; GROWPREV takes its columns from this block.
cursor GROWPREV;
  INSERT INTO sqlite.growth (page_count, secs, grown, elapsed) VALUES (:INT!page_count, :secs, :INT!grown, :INT!elapsed);
  insert_select SELECT p.page_count AS page_count, CAST((julianday('now') - 2440587.5) * 86400 AS INTEGER) AS secs FROM pragma_page_count() AS p;
  interval 5;
  limit 1;
; The indexes SQLite made by itself for UNIQUE and PRIMARY KEY constraints
; (the sample database has none), with their table and root page. So that
; the cursor always has a row to show, conditional_dummy_last_row adds one
; when the cursor holds no rows after a run: "N/A" in each text column, 0
; in each number (dummy_last_row would add it after every run). "empty"
; discards the rows before each run, so that a run finding none leaves
; the cursor without rows ("samples 1" would keep the previous run's).
cursor AUTOIDX;
  INSERT INTO sqlite.auto_indexes (name, tbl_name, rootpage) VALUES (:name^32, :tbl_name^32, :INT!rootpage);
  insert_select SELECT name AS name, tbl_name AS tbl_name, rootpage AS rootpage FROM sqlite_schema WHERE type = 'index' AND sql IS NULL ORDER BY name;
  conditional_dummy_last_row;
  empty;
  interval 5;
  limit 50;
; Host figures from a shell script, one row per figure. fetchxi1 runs
; the script (a path, so a program rather than an internal procedure);
; each output line is split into words that fill the columns
; insert_select names, in order: figure and amount, two dictionary
; elements that give their types and widths. A line in message form
; ("HFG0001I ...") goes to the output and is no row.
cursor FIGURES;
  INSERT INTO host.figures (figure, amount) VALUES (:figure, :INT!amount);
  fetch_exit fetchxi1;
  script ./host_figures.sh;
  insert_select SELECT figure, amount FROM script;
  interval 5;
  limit 10;
  samples 1;
; Monitor counters
;
; A server's monitor counters collected into five cursors, and figures
; derived from them by the collector's internal procedures. The counter
; cursors must have these names and column names, since the procedures
; read them by name: SYSMON (one row per counter: GROUPNAME, FLDNAME,
; FLDVALUE), ZEPV (the sample's STARTTIME and STOPTIME in seconds), CACHEMAP
; (the data caches: CACHENAME and BUFFERNAME, the counter group of the
; cache), SYSDEV (the devices: DEVNAME, OSNAME and DISKMON, the counter
; group of the device) and SYSCCONF (NUMENG, the number of engines). Here
; they read the sample that make-sysmon-db.sh puts in the database.
; "empty" matters: the procedures add up the counters of every row the
; cursor holds, so each run must start without the rows of the one before.
cursor SYSMON;
  INSERT INTO sysmon.counters (groupname, fldname, fldvalue) VALUES (:GROUPNAME^20, :FLDNAME^32, :INT!FLDVALUE);
  insert_select SELECT groupname AS GROUPNAME, fldname AS FLDNAME, fldvalue AS FLDVALUE FROM sysmon_counters ORDER BY groupname, fldname;
  interval 5;
  limit 1000;
  empty;
cursor ZEPV;
  INSERT INTO sysmon.sample (starttime, stoptime) VALUES (:INT!STARTTIME, :INT!STOPTIME);
  insert_select SELECT starttime AS STARTTIME, stoptime AS STOPTIME FROM sysmon_sample;
  interval 5;
  limit 1;
  empty;
cursor CACHEMAP;
  INSERT INTO sysmon.caches (cachename, buffername) VALUES (:CACHENAME^30, :BUFFERNAME^20);
  insert_select SELECT cachename AS CACHENAME, buffername AS BUFFERNAME FROM sysmon_caches ORDER BY rowid;
  interval 5;
  limit 50;
  empty;
cursor SYSDEV;
  INSERT INTO sysmon.devices (devname, osname, diskmon) VALUES (:DEVNAME^20, :OSNAME^30, :DISKMON^20);
  insert_select SELECT devname AS DEVNAME, osname AS OSNAME, diskmon AS DISKMON FROM sysmon_devices ORDER BY rowid;
  interval 5;
  limit 100;
  empty;
cursor SYSCCONF;
  INSERT INTO sysmon.config (numeng) VALUES (:INT!NUMENG);
  insert_select SELECT value AS NUMENG FROM sysmon_config WHERE name = 'max online engines';
  interval 5;
  limit 1;
  empty;
; Cursors that run a procedure: fetch exit fetchxi1, script "sysmon" and
; the procedure's name (an exit name without a "/" names an internal
; procedure). They come after the counter cursors, so that they see this
; pass's counters. Every output line is a row; its tab-separated fields
; fill the insert_select columns in order (DICT.CTL elements). Rates are
; per second of the sample and per transaction, percentages of the
; figure's base.
;
; The engines together: their number, the interval in seconds, the
; transactions, idle and busy percent, then eight counters.
cursor ZEPENGS;
  INSERT INTO sysmon.engines (eng_count, eng_interval, eng_xacts, eng_idle_pct, eng_busy_pct, eng_sleeps, eng_switches, eng_max_aios, eng_dpoll_aios, eng_pkts_recv, eng_bytes_recv, eng_pkts_sent, eng_bytes_sent) VALUES (:INT!eng_count, :INT!eng_interval, :INT!eng_xacts, :INT!eng_idle_pct, :INT!eng_busy_pct, :INT!eng_sleeps, :INT!eng_switches, :INT!eng_max_aios, :INT!eng_dpoll_aios, :INT!eng_pkts_recv, :INT!eng_bytes_recv, :INT!eng_pkts_sent, :INT!eng_bytes_sent);
  fetch_exit fetchxi1;
  script sysmon ZEPENGS;
  insert_select SELECT eng_count, eng_interval, eng_xacts, eng_idle_pct, eng_busy_pct, eng_sleeps, eng_switches, eng_max_aios, eng_dpoll_aios, eng_pkts_recv, eng_bytes_recv, eng_pkts_sent, eng_bytes_sent FROM script;
  interval 5;
  limit 10;
  samples 1;
; Lock requests, waits and deadlocks (percent of the requests), and
; table lock promotions, exclusive and shared (percent of all promotions).
cursor ZEPLCKS;
  INSERT INTO sysmon.locks (lck_req_sec, lck_req_xact, lck_requests, lck_wait_sec, lck_wait_xact, lck_waits, lck_wait_pct, lck_dlock_sec, lck_dlock_xact, lck_deadlocks, lck_dlock_pct, lck_promo_sec, lck_promo_xact, lck_promotions, lck_prex_sec, lck_prex_xact, lck_promo_ex, lck_prex_pct, lck_prsh_sec, lck_prsh_xact, lck_promo_sh, lck_prsh_pct) VALUES (:FLOAT!lck_req_sec, :FLOAT!lck_req_xact, :INT!lck_requests, :FLOAT!lck_wait_sec, :FLOAT!lck_wait_xact, :INT!lck_waits, :FLOAT!lck_wait_pct, :FLOAT!lck_dlock_sec, :FLOAT!lck_dlock_xact, :INT!lck_deadlocks, :FLOAT!lck_dlock_pct, :FLOAT!lck_promo_sec, :FLOAT!lck_promo_xact, :INT!lck_promotions, :FLOAT!lck_prex_sec, :FLOAT!lck_prex_xact, :INT!lck_promo_ex, :FLOAT!lck_prex_pct, :FLOAT!lck_prsh_sec, :FLOAT!lck_prsh_xact, :INT!lck_promo_sh, :FLOAT!lck_prsh_pct);
  fetch_exit fetchxi1;
  script sysmon ZEPLCKS;
  insert_select SELECT lck_req_sec, lck_req_xact, lck_requests, lck_wait_sec, lck_wait_xact, lck_waits, lck_wait_pct, lck_dlock_sec, lck_dlock_xact, lck_deadlocks, lck_dlock_pct, lck_promo_sec, lck_promo_xact, lck_promotions, lck_prex_sec, lck_prex_xact, lck_promo_ex, lck_prex_pct, lck_prsh_sec, lck_prsh_xact, lck_promo_sh, lck_prsh_pct FROM script;
  interval 5;
  limit 10;
  samples 1;
; The log: the largest user log cache used, log page writes and
; allocations, log records, cache flushes, cache and log semaphore requests.
cursor ZEPLOGS;
  INSERT INTO sysmon.log (log_plc_maxused, log_page_writes, log_page_allocs, log_plc_logrecs, log_plc_flushes, log_plc_locks, log_lock_reqs) VALUES (:INT!log_plc_maxused, :INT!log_page_writes, :INT!log_page_allocs, :INT!log_plc_logrecs, :INT!log_plc_flushes, :INT!log_plc_locks, :INT!log_lock_reqs);
  fetch_exit fetchxi1;
  script sysmon ZEPLOGS;
  insert_select SELECT log_plc_maxused, log_page_writes, log_page_allocs, log_plc_logrecs, log_plc_flushes, log_plc_locks, log_lock_reqs FROM script;
  interval 5;
  limit 10;
  samples 1;
; One row per device: misses and hits (percent of the device's reads and
; writes), its reads and writes together (percent of all devices'), its
; writes and its reads (percent of its reads and writes).
cursor ZEPSDEVD;
  INSERT INTO sysmon.device_io (dev_name, dev_osname, dev_miss_sec, dev_miss_xact, dev_misses, dev_miss_pct, dev_hit_sec, dev_hit_xact, dev_hits, dev_hit_pct, dev_io_sec, dev_io_xact, dev_ios, dev_io_pct, dev_write_sec, dev_write_xact, dev_writes, dev_write_pct, dev_read_sec, dev_read_xact, dev_reads, dev_read_pct) VALUES (:dev_name, :dev_osname, :FLOAT!dev_miss_sec, :FLOAT!dev_miss_xact, :INT!dev_misses, :FLOAT!dev_miss_pct, :FLOAT!dev_hit_sec, :FLOAT!dev_hit_xact, :INT!dev_hits, :FLOAT!dev_hit_pct, :FLOAT!dev_io_sec, :FLOAT!dev_io_xact, :INT!dev_ios, :FLOAT!dev_io_pct, :FLOAT!dev_write_sec, :FLOAT!dev_write_xact, :INT!dev_writes, :FLOAT!dev_write_pct, :FLOAT!dev_read_sec, :FLOAT!dev_read_xact, :INT!dev_reads, :FLOAT!dev_read_pct);
  fetch_exit fetchxi1;
  script sysmon ZEPSDEVD;
  insert_select SELECT dev_name, dev_osname, dev_miss_sec, dev_miss_xact, dev_misses, dev_miss_pct, dev_hit_sec, dev_hit_xact, dev_hits, dev_hit_pct, dev_io_sec, dev_io_xact, dev_ios, dev_io_pct, dev_write_sec, dev_write_xact, dev_writes, dev_write_pct, dev_read_sec, dev_read_xact, dev_reads, dev_read_pct FROM script;
  interval 5;
  limit 10;
  samples 1;
end;
