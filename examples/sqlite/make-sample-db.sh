#!/usr/bin/env bash
# Creates a small SQLite database for the example collector to look at:
# two tables with indexes, a view and a trigger, some rows, and a dropped
# table whose pages stay on the free list; then the monitor-counter
# sample of make-sysmon-db.sh.
# Usage: make-sample-db.sh FILE   (an existing FILE is replaced)
set -euo pipefail
db=${1:?usage: make-sample-db.sh FILE}
command -v sqlite3 >/dev/null || { echo "make-sample-db.sh: sqlite3 is not installed" >&2; exit 1; }
rm -f "$db"
sqlite3 "$db" <<'SQL'
PRAGMA page_size = 4096;
CREATE TABLE customers (id INTEGER PRIMARY KEY, name VARCHAR(40) NOT NULL, city VARCHAR(30));
CREATE INDEX customers_city ON customers (city);
CREATE TABLE orders (id INTEGER PRIMARY KEY, customer_id INTEGER REFERENCES customers (id),
                     amount NUMERIC(10,2), note TEXT);
CREATE INDEX orders_customer ON orders (customer_id);
CREATE VIEW big_orders AS SELECT * FROM orders WHERE amount > 100;
CREATE TABLE audit (at TEXT, what TEXT);
CREATE TRIGGER orders_audit AFTER INSERT ON orders BEGIN
  INSERT INTO audit VALUES (datetime('now'), 'order ' || NEW.id);
END;
WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < 500)
INSERT INTO customers (name, city) SELECT 'customer ' || i, 'city ' || (i % 17) FROM n;
WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < 3000)
INSERT INTO orders (customer_id, amount, note)
  SELECT 1 + i % 500, (i * 37 % 1000) / 4.0, printf('order note %05d %.*c', i, 40, 'x') FROM n;
CREATE TABLE scratch (x TEXT);
WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < 200)
INSERT INTO scratch SELECT printf('%.*c', 200, 'y') FROM n;
DROP TABLE scratch;
SQL
bash "$(dirname "$0")/make-sysmon-db.sh" "$db" >/dev/null
echo "created $db"
