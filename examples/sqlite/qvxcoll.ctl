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
; The schema objects: tables, indexes, views and triggers with the table
; they belong to. The SELECT is generated from the host variables.
cursor SCHEMA;
  INSERT INTO sqlite_schema (type, name, tbl_name) VALUES (:type^8, :name^64, :tbl_name^64);
  insert_where name NOT LIKE 'sqlite_%' ORDER BY type, name;
  interval 5;
  limit 500;
  samples 1;
end;
