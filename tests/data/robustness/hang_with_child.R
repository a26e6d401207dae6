# Starts a child that ignores SIGTERM, tells the test "hanging PID", then hangs.
if (any(grepl('in\\.r$', commandArgs()))) local({
  system("trap '' TERM; exec sleep 3600", wait = FALSE)
  sync <- Sys.getenv('PRAMBLE_TEST_SYNC')
  cat(paste0('hanging ', Sys.getpid(), '\n'), file = file.path(sync, 'to_test'), append = TRUE)
  Sys.sleep(3600)
})
