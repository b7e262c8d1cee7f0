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
end;
