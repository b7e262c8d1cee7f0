; Cursors of the PostgreSQL example: what a database server is doing and
; how much room the database takes, from PostgreSQL's statistics views and
; catalogue. Run it with the ODBC driver psqlODBC, e.g.
;   COLL_CONNECT='odbc:Driver=PostgreSQL Unicode;Servername=db1;Port=5432;Database=prod'
; and check it first with "qvxcoll --check --connect".
;
; psqlODBC hands PostgreSQL's "name" and "text" columns over as long text,
; which the collector does not fetch: such columns are cast to varchar(n).
; A colon starts a host variable wherever it stands, so casts are written
; CAST(x AS varchar(n)), never x::varchar(n).
;
; Activity of this database: backends, commits, rollbacks, block reads
; and hits, deadlocks. The SELECT is generated from the host variables and
; the INSERT's table, pg_stat_database, which is the FROM table of the
; query: SELECT numbackends, xact_commit, ... FROM pg_stat_database
; WHERE datname = current_database(). Counters that may pass 2^31 are
; sent as text (no INT!).
cursor DBSTAT;
  INSERT INTO pg_stat_database (numbackends, xact_commit, xact_rollback, blks_read, blks_hit, deadlocks) VALUES (:INT!numbackends, :xact_commit, :xact_rollback, :blks_read, :blks_hit, :deadlocks);
  insert_where datname = current_database();
  interval 30;
  limit 1;
  samples 1;
; Sessions by state (active, idle, idle in transaction, ...), background
; processes without one counted as "background".
cursor SESSIONS;
  INSERT INTO pg.sessions (state, sessions) VALUES (:state^32, :INT!sessions);
  insert_select SELECT CAST(COALESCE(state, 'background') AS varchar(32)) AS state, COUNT(*) AS sessions FROM pg_stat_activity GROUP BY 1 ORDER BY 1;
  interval 30;
  limit 20;
  samples 1;
; Sessions waiting for a lock, and the longest such wait in seconds.
cursor LOCKWAIT;
  INSERT INTO pg.lock_waits (waiting, longest) VALUES (:INT!waiting, :INT!longest);
  insert_select SELECT COUNT(*) AS waiting, CAST(COALESCE(MAX(EXTRACT(EPOCH FROM now() - query_start)), 0) AS integer) AS longest FROM pg_stat_activity WHERE wait_event_type = 'Lock';
  interval 30;
  limit 1;
  samples 1;
; The twenty biggest tables with their indexes and TOAST data, biggest
; first.
cursor RELSIZE;
  INSERT INTO pg.relation_size (schema_name, relname, bytes, live_rows) VALUES (:schema_name^64, :relname^64, :bytes, :live_rows);
  insert_select SELECT CAST(n.nspname AS varchar(64)) AS schema_name, CAST(c.relname AS varchar(64)) AS relname, pg_total_relation_size(c.oid) AS bytes, c.reltuples AS live_rows FROM pg_class c JOIN pg_namespace n ON n.oid = c.relnamespace WHERE c.relkind = 'r' AND n.nspname NOT IN ('pg_catalog', 'information_schema') ORDER BY 3 DESC, 2 LIMIT 20;
  interval 300;
  limit 20;
  samples 1;
; ---------------------------------------------------------------------
; Derived rows. These cursors read other sessions' states and queries,
; which PostgreSQL shows only to members of pg_read_all_stats: give the
; logon id pg_monitor ("GRANT pg_monitor TO monitor"). The collector's own
; session is left out of every session count below.
;
; Cache hit ratio per database: blocks found in shared buffers, in
; percent of all blocks asked for, computed by the collector from the two
; counters (two decimals, rounded). A database that has read nothing yet
; shows 0.00. Every collection is appended to DBHIT.HST in the collector
; home by the "historian" distributor (the time of its pass, then the
; row); samples 1 writes each database once a pass.
cursor DBHIT;
  INSERT INTO pg.cache_hits (datname, blks_read, blks_hit, hit_pct) VALUES (:datname^64, :blks_read, :blks_hit, :hit_pct);
  insert_select SELECT CAST(datname AS varchar(64)) AS datname, blks_read, blks_hit FROM pg_stat_database WHERE datname IS NOT NULL ORDER BY 1;
  math hit_pct blks_hit * 100 / ( blks_hit + blks_read );
  history;
  interval 30;
  limit 100;
  samples 1;
; Sessions of this database: how many are connected, the most there have
; been since the collector started (HW! keeps the high-water mark across
; runs) and how many are running a statement. While none is busy the
; detail cursor BUSYSQL is held and emptied, so nothing is fetched for
; it; the first busy session releases it.
cursor ACTIVITY;
  INSERT INTO pg.activity (connections, peak_connections, busy) VALUES (:INT!connections, :HW!peak_connections, :INT!busy);
  insert_select SELECT COUNT(*) AS connections, COUNT(*) AS peak_connections, COUNT(*) FILTER (WHERE state = 'active') AS busy FROM pg_stat_activity WHERE datname = current_database() AND backend_type = 'client backend' AND pid <> pg_backend_pid();
  decode busy = 0 , 'hold delete cursor BUSYSQL';
  decode busy DEFAULT 'release cursor BUSYSQL';
  interval 30;
  limit 1;
  samples 1;
; The statements running now, longest first; collected only while
; ACTIVITY finds a busy session.
cursor BUSYSQL;
  INSERT INTO pg.busy_sql (pid, seconds, query) VALUES (:INT!pid, :INT!seconds, :query^80);
  insert_select SELECT pid, CAST(EXTRACT(EPOCH FROM now() - query_start) AS integer) AS seconds, CAST(LEFT(query, 80) AS varchar(80)) AS query FROM pg_stat_activity WHERE datname = current_database() AND backend_type = 'client backend' AND state = 'active' AND pid <> pg_backend_pid() ORDER BY 2 DESC, 1;
  interval 30;
  limit 50;
  samples 1;
; One row per session of this database, its state decoded into a word:
; busy (running a statement), idle, in_xact (idle inside a transaction,
; also an aborted one), other (fast-path calls, disabled statistics). The
; loads count the words into the virtual cursor CONNS and put the most
; frequent word beside them. "empty" keeps only the newest fetch, so the
; loads count one sample. Without any other session the fetch returns no
; row and the loads give CONNS the initial values of DICT.CTL.
cursor BACKENDS;
  INSERT INTO pg.backends (pid, state, seconds) VALUES (:INT!pid, :state^32, :INT!seconds);
  insert_select SELECT pid, CAST(COALESCE(state, 'unknown') AS varchar(32)) AS state, CAST(COALESCE(EXTRACT(EPOCH FROM now() - state_change), 0) AS integer) AS seconds FROM pg_stat_activity WHERE datname = current_database() AND backend_type = 'client backend' AND pid <> pg_backend_pid() ORDER BY 1;
  decode state = 'active' , 'busy';
  decode state = 'idle' , 'idle';
  decode state search 'idle in transaction' , 'in_xact';
  decode state DEFAULT 'other';
  load COUNT state->CONNS.busy where state = 'busy';
  load COUNT state->CONNS.idle where state = 'idle';
  load COUNT state->CONNS.in_xact where state = 'in_xact';
  load state->CONNS.common_state from MAX_OCCURANCE state;
  empty;
  interval 30;
  limit 500;
; Sessions by decoded state, filled by the loads of BACKENDS; its columns
; are the DICT.CTL elements of the same names.
cursor CONNS;
  INSERT INTO pg.connection_states (busy, idle, in_xact, common_state) VALUES (:INT!busy, :INT!idle, :INT!in_xact, :common_state);
  virtual;
; Commits per second of this database since its statistics were reset
; (or the server started), one row a collection; the ten newest are kept.
; The loads put their average and trend into the virtual cursor TPS:
; TREND is the average weighted towards the newest samples divided by the
; plain average, so above 1 the rate is rising, below 1 falling.
cursor XACTS;
  INSERT INTO pg.xact_rate (tps) VALUES (:tps);
  insert_select SELECT CAST(xact_commit / EXTRACT(EPOCH FROM now() - COALESCE(stats_reset, pg_postmaster_start_time())) AS numeric(12,2)) AS tps FROM pg_stat_database WHERE datname = current_database();
  load AVG!tps->TPS.avg_tps;
  load TREND!tps->TPS.trend_tps;
  interval 30;
  limit 10;
cursor TPS;
  INSERT INTO pg.xact_trend (avg_tps, trend_tps) VALUES (:avg_tps, :trend_tps);
  virtual;
; Sessions of this database, the oldest logon first, reformatted by column
; exits: who is logged on where ("monitor@prod": CONCAT appends the
; database name, which is not sent on its own, to the user name and "@"),
; the application right-aligned in its 32 characters (R_JUSTIFY), the
; time of day of the logon (SUBSTR takes "hh:mm:ss" out of the logon
; time's text "yyyy-mm-dd hh:mm:ss.ffffff+zz") and the minutes since the
; logon (MINUTES: the SQL writes the logon time as MM/DD/YYYY HH24:MI and
; the exit turns it into the minutes before the collection's time stamp,
; sent beside it as %now_time; the server's TimeZone setting must be the
; collector's local time zone).
; set_len gives select items other fetch lengths than their types would:
; a varchar(16) is fetched 48 bytes wide (16 characters of UTF-8), but
; MINUTES works on exactly 16 bytes; the application is fetched 32 bytes
; wide, so that R_JUSTIFY aligns it within the 32 that are sent.
cursor SESSAGE;
  INSERT INTO pg.session_age (who, dbname, app, logon_at, logon_minutes, collected) VALUES (:who^64, :NS!dbname, :app, :logon_at^8, :INT!logon_minutes, :%now_time);
  insert_select SELECT CAST(usename || '@' AS varchar(64)) AS who, CAST(datname AS varchar(64)) AS dbname, CAST(COALESCE(application_name, '') AS varchar(32)) AS app, CAST(backend_start AS varchar(40)) AS logon_at, CAST(to_char(backend_start, 'MM/DD/YYYY HH24:MI') AS varchar(16)) AS logon_minutes FROM pg_stat_activity WHERE datname = current_database() AND backend_type = 'client backend' AND pid <> pg_backend_pid() ORDER BY backend_start, pid;
  set_len logon_minutes 16;
  set_len app 32;
  column_exit who CONCAT dbname;
  column_exit app R_JUSTIFY;
  column_exit logon_at SUBSTR ( 12 , 8 );
  column_exit logon_minutes MINUTES;
  interval 30;
  limit 200;
; ---------------------------------------------------------------------
; Base rows and host variables: cursors that read other cursors' rows.
;
; The databases one may log on to, with their encoding and connection
; limit (-1: none). The base cursor of SESSDB below.
cursor DBS;
  INSERT INTO pg.databases (datname, encoding, connlimit) VALUES (:datname^64, :encoding^16, :INT!connlimit);
  insert_select SELECT CAST(datname AS varchar(64)) AS datname, CAST(pg_encoding_to_char(encoding) AS varchar(16)) AS encoding, datconnlimit AS connlimit FROM pg_database WHERE datallowconn ORDER BY 1;
  interval 30;
  limit 100;
  samples 1;
; Every client session with its database's encoding and connection
; limit, joined by the collector: "base DBS on datname->datname" picks,
; for each session row, the row of DBS whose datname is the session's,
; and the DBS.encoding and DBS.connlimit columns read that row.
; pre_cursor runs DBS first, so the databases are current.
cursor SESSDB;
  INSERT INTO pg.session_databases (pid, datname, state, encoding, connlimit) VALUES (:INT!pid, :datname^64, :state^32, :DBS.encoding^16, :INT!DBS.connlimit);
  insert_select SELECT pid, CAST(datname AS varchar(64)) AS datname, CAST(COALESCE(state, 'unknown') AS varchar(32)) AS state FROM pg_stat_activity WHERE datname IS NOT NULL AND backend_type = 'client backend' ORDER BY 1;
  base DBS on datname->datname;
  pre_cursor DBS;
  interval 30;
  limit 500;
  samples 1;
; The biggest database one may log on to.
cursor BIGDB;
  INSERT INTO pg.biggest_database (datname, bytes) VALUES (:datname^64, :bytes);
  insert_select SELECT CAST(datname AS varchar(64)) AS datname, pg_database_size(oid) AS bytes FROM pg_database WHERE datallowconn ORDER BY 2 DESC, 1 LIMIT 1;
  interval 30;
  limit 1;
  samples 1;
; Activity of the biggest database: its name comes from BIGDB's row
; ([BIGDB.datname becomes 'name' in the SELECT before each fetch);
; pre_cursor runs BIGDB first.
cursor BIGDBACT;
  INSERT INTO pg.biggest_database_activity (datname, numbackends, xact_commit) VALUES (:datname^64, :INT!numbackends, :xact_commit);
  insert_select SELECT CAST(datname AS varchar(64)) AS datname, numbackends, xact_commit FROM pg_stat_database WHERE datname = [BIGDB.datname;
  pre_cursor BIGDB;
  interval 30;
  limit 1;
; The server's processes, from "ps" (a fetch exit: the command's output
; lines become rows, split into words by fetchx2, the command run under a
; time limit of 10 seconds): process id, parent, resident memory in
; kilobytes, CPU share and seconds since the start of each postgres
; process. A host without a running server has no row.
cursor PGPROCS;
  INSERT INTO host.pg_processes (pid, ppid, rss_kb, cpu_pct, elapsed_s, command) VALUES (:INT!pid, :INT!ppid, :INT!rss_kb, :cpu_pct^6, :INT!elapsed_s, :command^16);
  fetch_exit fetchx2t10;
  script ps -C postgres -o pid=,ppid=,rss=,pcpu=,etimes=,comm=;
  interval 30;
  limit 200;
  samples 1;
; Where the server keeps its files (readable by pg_monitor through
; pg_read_all_settings), and the room left on that file system: a script
; exit runs df on the directory the first cursor collected. The host
; variable [PGDIR.datadir] is replaced by that cursor's newest value;
; start_after 1 skips df's heading line.
cursor PGDIR;
  INSERT INTO pg.settings (datadir) VALUES (:datadir^200);
  insert_select SELECT CAST(setting AS varchar(200)) AS datadir FROM pg_settings WHERE name = 'data_directory';
  interval 300;
  limit 1;
  samples 1;
cursor PGDIRFS;
  INSERT INTO host.pg_data_fs (fs_name, fs_kb, fs_used_kb, fs_avail_kb, fs_capacity, fs_mounted) VALUES (:fs_name, :fs_kb, :fs_used_kb, :fs_avail_kb, :fs_capacity, :fs_mounted);
  fetch_exit fetchxi1;
  script /bin/df -Pk [PGDIR.datadir];
  start_after 1;
  insert_select SELECT fs_name, fs_kb, fs_used_kb, fs_avail_kb, fs_capacity, fs_mounted FROM script;
  interval 300;
  limit 5;
  samples 1;
; ---------------------------------------------------------------------
; Threshold cursors: their rows are tested by the "evaluator" distributor
; against the evaluations of qvxeval.ctl, and only the rows that pass one
; are written (the "nupa" listing leaves cursors with evaluations out).
;
; Client connections in percent of max_connections, the collector's own
; included.
cursor CONNUSE;
  INSERT INTO pg.connection_use (connections, max_connections, used_pct) VALUES (:INT!connections, :INT!max_connections, :INT!used_pct);
  insert_select SELECT COUNT(*) AS connections, CAST(current_setting('max_connections') AS integer) AS max_connections, CAST(COUNT(*) * 100 / CAST(current_setting('max_connections') AS integer) AS integer) AS used_pct FROM pg_stat_activity WHERE backend_type = 'client backend';
  interval 30;
  limit 1;
  samples 1;
; Cache hit ratio of each database in whole percent; a database that has
; read nothing yet counts as 100.
cursor CACHELOW;
  INSERT INTO pg.cache_ratio (datname, hit_pct) VALUES (:datname^64, :INT!hit_pct);
  insert_select SELECT CAST(datname AS varchar(64)) AS datname, CAST(CASE WHEN blks_hit + blks_read = 0 THEN 100 ELSE blks_hit * 100 / (blks_hit + blks_read) END AS integer) AS hit_pct FROM pg_stat_database WHERE datname IS NOT NULL ORDER BY 1;
  interval 30;
  limit 100;
  samples 1;
; Replication lag in bytes: the WAL each replication slot still holds for
; its standby (or logical consumer), from its restart position to the
; current end of the WAL. Without slots the fetch returns no row, and
; "empty" lets it leave none behind (the rows of the fetch before would
; otherwise stay and be tested again).
cursor SLOTLAG;
  INSERT INTO pg.slot_lag (slot_name, lag_bytes) VALUES (:slot_name^64, :lag_bytes);
  insert_select SELECT CAST(slot_name AS varchar(64)) AS slot_name, CAST(COALESCE(pg_wal_lsn_diff(pg_current_wal_lsn(), restart_lsn), 0) AS bigint) AS lag_bytes FROM pg_replication_slots ORDER BY 1;
  empty;
  interval 30;
  limit 100;
; Commits and block reads per second in this database between the last
; two runs. age_to keeps the row of the run before as cursor DBRATEP,
; which is never run itself (its block below is written like this one, so
; that an agent reads the same columns from it). %current_interval is the
; number of seconds from the start of the previous run to the start of
; this one, the time between the two samples; %sampleno numbers the runs.
; The rates are 0 until DBRATEP holds a sample ("initial 0").
cursor DBRATE;
  INSERT INTO pg.db_rates (xact_commit, blks_read, seconds, sample, commits_per_sec, reads_per_sec) VALUES (:xact_commit, :blks_read, :%current_interval, :%sampleno, :commits_per_sec, :reads_per_sec);
  insert_select SELECT xact_commit, blks_read FROM pg_stat_database WHERE datname = current_database();
  math initial 0 commits_per_sec ( xact_commit - DBRATEP.xact_commit ) / %current_interval;
  math initial 0 reads_per_sec ( blks_read - DBRATEP.blks_read ) / %current_interval;
  age_to DBRATEP;
  interval 30;
  limit 1;
; The previous sample of DBRATE.
cursor DBRATEP;
  INSERT INTO pg.db_rates (xact_commit, blks_read, seconds, sample, commits_per_sec, reads_per_sec) VALUES (:xact_commit, :blks_read, :%current_interval, :%sampleno, :commits_per_sec, :reads_per_sec);
  insert_select SELECT xact_commit, blks_read FROM pg_stat_database WHERE datname = current_database();
  interval 30;
  limit 1;
; Cursor versions. PostgreSQL 17 moved the checkpoint counters from
; pg_stat_bgwriter to the new view pg_stat_checkpointer. PGVERS collects
; the server's version number; before each collection pass the condition
; of CHECKPTS is evaluated against PGVERS's newest row, and the version
; it selects is the SELECT that runs. The first version (here the one for
; servers before 17) is used until PGVERS holds a row.
cursor PGVERS;
  INSERT INTO pg.version (vernum) VALUES (:INT!vernum);
  insert_select SELECT CAST(current_setting('server_version_num') AS integer) AS vernum;
  interval 30;
  limit 1;
  samples 1;
cursor CHECKPTS;
  INSERT INTO pg.checkpoints (timed, requested, source) VALUES (:timed, :requested, :source^16);
  if PGVERS.vernum < 170000;
    insert_select SELECT checkpoints_timed AS timed, checkpoints_req AS requested, CAST('bgwriter' AS varchar(16)) AS source FROM pg_stat_bgwriter;
  else;
    insert_select SELECT num_timed AS timed, num_requested AS requested, CAST('checkpointer' AS varchar(16)) AS source FROM pg_stat_checkpointer;
  endif;
  interval 30;
  limit 1;
  samples 1;
end;
