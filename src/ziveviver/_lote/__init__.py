"""``ziveviver lote``: records, status file and report, the tabs filled ahead, the command."""
