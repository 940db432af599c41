-- Start-up and exit only.
os.exit(0)
