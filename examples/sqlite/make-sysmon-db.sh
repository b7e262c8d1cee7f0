#!/usr/bin/env bash
# Adds a monitor-counter sample to a SQLite database, laid out the way a
# server's monitor tables give it: ten minutes of a server with two
# engines, two data caches and three devices.
#   sysmon_counters  one row per counter: group, field name and value
#   sysmon_sample    the sample's start and stop time (seconds of the day)
#   sysmon_caches    the data caches and the counter group of each
#   sysmon_devices   the devices, their files and their counter groups
#   sysmon_config    configuration values, the number of engines among them
# The monitor cursors of qvxcoll.ctl select these tables.
# Usage: make-sysmon-db.sh FILE   (FILE is created when missing; the
# tables are replaced)
set -euo pipefail
db=${1:?usage: make-sysmon-db.sh FILE}
command -v sqlite3 >/dev/null || { echo "make-sysmon-db.sh: sqlite3 is not installed" >&2; exit 1; }
sqlite3 "$db" <<'SQL'
.bail on
DROP TABLE IF EXISTS sysmon_counters;
DROP TABLE IF EXISTS sysmon_sample;
DROP TABLE IF EXISTS sysmon_caches;
DROP TABLE IF EXISTS sysmon_devices;
DROP TABLE IF EXISTS sysmon_config;
CREATE TABLE sysmon_counters (groupname VARCHAR(20) NOT NULL, fldname VARCHAR(32) NOT NULL,
                              fldvalue INTEGER NOT NULL);
CREATE TABLE sysmon_sample (starttime INTEGER NOT NULL, stoptime INTEGER NOT NULL);
CREATE TABLE sysmon_caches (cachename VARCHAR(30) NOT NULL, buffername VARCHAR(20) NOT NULL);
CREATE TABLE sysmon_devices (devname VARCHAR(20) NOT NULL, osname VARCHAR(30) NOT NULL,
                             diskmon VARCHAR(20) NOT NULL);
CREATE TABLE sysmon_config (name VARCHAR(40) NOT NULL, value INTEGER NOT NULL);

-- 12:00:00 to 12:10:00.
INSERT INTO sysmon_sample VALUES (43200, 43800);
INSERT INTO sysmon_config VALUES ('max online engines', 2), ('number of devices', 3),
                                 ('number of locks', 50000);
INSERT INTO sysmon_caches VALUES ('default data cache', 'buffer_0'), ('tempdb_cache', 'buffer_1');
INSERT INTO sysmon_devices VALUES ('master', '/sybase/data/master.dat', 'disk_0'),
                                  ('data_dev1', '/sybase/data/data1.dat', 'disk_1'),
                                  ('log_dev1', '/sybase/log/log1.dat', 'disk_2');

-- Counter names by group; the values follow below.
CREATE TEMP TABLE names (g TEXT, f TEXT);
INSERT INTO names SELECT b.column1, f.column1 FROM (VALUES ('buffer_0'), ('buffer_1')) AS b,
  (VALUES ('bufsearch_calls'), ('bufsearch_finds'), ('bufgrab_2k'), ('bufgrab_4k'), ('bufgrab_16k'),
          ('bufgrab_dirty_2k'), ('bufgrab_dirty_16k'), ('bufgrab_ref_2K'), ('bufgrab_ref_4K'),
          ('bufgrab_ref_16K'), ('bufgrab_locked'), ('bufunkeep_lru'), ('bufunkeep_mru'),
          ('prefetch_req'), ('prefetch_as_requested'), ('prefetch_page_realigned'),
          ('prefetch_decrease'), ('bufread_read_waits'), ('bufwrite_write_waits'),
          ('bufwrite_pacing_waits'), ('log_page_writes'), ('bufwash_pass'), ('bufwash_write'))
  AS f;
INSERT INTO names SELECT e.column1, f.column1 FROM (VALUES ('engine_0'), ('engine_1')) AS e,
  (VALUES ('clock_ticks'), ('cpu_ticks'), ('io_ticks'), ('idle_ticks'), ('engine_sleeps'),
          ('context_switches'), ('max_outstanding_AIOs_engine'), ('total_dpoll_completed_aios'),
          ('dpoll_calls'), ('no_packets_received'), ('no_bytes_received'), ('no_packets_sent'),
          ('no_bytes_sent'), ('network_polls'))
  AS f;
INSERT INTO names SELECT d.column1, f.column1 FROM (VALUES ('disk_0'), ('disk_1'), ('disk_2')) AS d,
  (VALUES ('total_reads'), ('total_writes'), ('p_hits'), ('p_misses'), ('apf_reads')) AS f;
INSERT INTO names SELECT 'lock', k.column1 || t.column1 FROM (VALUES ('granted_'), ('waited_'), ('deadlock_')) AS k,
  (VALUES ('EX_TAB'), ('SH_TAB'), ('EX_INT'), ('SH_INT'), ('EX_PAGE'), ('UP_PAGE'), ('SH_PAGE'),
          ('EX_ADDR'), ('SH_ADDR')) AS t;
INSERT INTO names VALUES ('lock', 'deadlocks'), ('lock', 'promoted_EX_TAB'), ('lock', 'promoted_SH_TAB'),
  ('lock', 'lock_hashtab_lookups'), ('lock', 'lock_hashtab_spins'),
  ('access', 'xacts'), ('access', 'locklastpage'), ('access', 'lklastpg_wait'),
  ('access', 'log_page_allocations'), ('access', 'ncinsert'), ('access', 'cinsert'),
  ('access', 'deferred_update'), ('access', 'direct_inplace_update'),
  ('access', 'direct_notinplace_update'), ('access', 'direct_expensive_update'), ('access', 'delete'),
  ('access', 'delete_deferred'), ('access', 'modify_conflicts'), ('access', 'select_rows'),
  ('xls', 'plc_flush_full'), ('xls', 'plc_flush_endxact'), ('xls', 'plc_flush_xdeschange'),
  ('xls', 'plc_flush_slr_xact'), ('xls', 'plc_flush_unpin'), ('xls', 'plc_flush_discard'),
  ('xls', 'plc_flush_pmscan'), ('xls', 'plc_lock_calls'), ('xls', 'plc_lock_waits'),
  ('xls', 'log_lock_granted'), ('xls', 'log_lock_waited'), ('xls', 'plc_maxused'), ('xls', 'plc_logrecs'),
  ('xls', 'group_commit_sleeps'), ('xls', 'last_log_page_writes'), ('xls', 'log_flush_requests'),
  ('kernel', 'yields'), ('kernel', 'runnable_tasks'), ('kernel', 'checkdisk_calls'),
  ('sysind', 'ind_bufguess_found'), ('sysind', 'ind_bufguess_missed'), ('sysind', 'ind_lookups'),
  ('latch', 'waited_EX_LATCH'), ('latch', 'waited_SH_LATCH'), ('latch', 'waited_NO_LATCH'),
  ('latch', 'granted_EX_LATCH'), ('latch', 'granted_SH_LATCH');
-- Object counters that no figure reads: the bulk of a real sample.
WITH RECURSIVE n(i) AS (SELECT 0 UNION ALL SELECT i + 1 FROM n WHERE i < 19)
INSERT INTO names SELECT 'object_' || i, f.column1 FROM n,
  (VALUES ('rows_read'), ('rows_written'), ('page_reads'), ('page_writes'), ('scans')) AS f;

-- Values that differ from counter to counter, in the range of ten
-- minutes of a busy server; the ticks and the transactions fixed.
INSERT INTO sysmon_counters
  SELECT g, f, CASE
    WHEN f = 'clock_ticks' THEN 6000
    WHEN f = 'cpu_ticks' THEN CASE g WHEN 'engine_0' THEN 2430 ELSE 3375 END
    WHEN g = 'access' AND f = 'xacts' THEN 1830
    WHEN f = 'bufsearch_calls' THEN 90000 + rowid * 13
    WHEN f = 'bufsearch_finds' THEN 84000 + rowid * 7
    WHEN f = 'prefetch_req' THEN 5200 + rowid
    ELSE (rowid * 7919 + 104729) % 4999 + 3 END
  FROM names ORDER BY rowid;
DROP TABLE names;
SQL
echo "monitor sample added to $db"
