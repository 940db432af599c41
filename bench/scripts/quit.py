# Start-up and exit only.
