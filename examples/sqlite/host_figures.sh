#!/bin/sh
# Figures of the host as "name value" lines, for the FIGURES cursor: the
# seconds since boot and the processes running now. The last line is in
# message form, so the collector writes it to its output instead of
# storing it.
read up idle < /proc/uptime
echo "uptime ${up%.*}"
echo "processes $(ls -d /proc/[0-9]* | wc -l)"
echo "HFG0001I host figures collected"
