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
end;
