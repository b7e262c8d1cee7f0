; Distributors of the SQLite example.
; "collector" drives the collection of the interval cursors every 5 seconds
; (SQLite has no users: the logon id is only shown in the output).
process collector;
  type local;
  logon_id monitor;
  interval 5;
  Mon_Fri_start 0000;
  Mon_Fri_end 2400;
; Serves the agent's requests. Between other work the service waits for
; a request and answers it at once; after an answer it is back within its
; interval (1 second), so a burst of requests is answered one a second.
process upa;
  type local;
  interval 1;
; Writes the rows of every class-0 cursor to the message output every
; 5 seconds, so they can be read without an agent.
process nupa;
  type local;
  interval 5;
; Appends the rows of the cursors marked "history" to <cursor>.HST in the
; collector home every 10 seconds (only when they changed since).
process historian;
  type local;
  interval 10;
end;
