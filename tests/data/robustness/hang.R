# Tells the test "hanging PID", then hangs.
if (any(grepl('in\\.r$', commandArgs()))) local({
  sync <- Sys.getenv('PRAMBLE_TEST_SYNC')
  cat(paste0('hanging ', Sys.getpid(), '\n'), file = file.path(sync, 'to_test'), append = TRUE)
  Sys.sleep(3600)
})
