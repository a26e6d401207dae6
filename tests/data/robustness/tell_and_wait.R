# Tells the test "ready PID", then waits for the test's flag file "go".
if (any(grepl('in\\.r$', commandArgs()))) local({
  sync <- Sys.getenv('PRAMBLE_TEST_SYNC')
  cat(paste0('ready ', Sys.getpid(), '\n'), file = file.path(sync, 'to_test'), append = TRUE)
  while (!file.exists(file.path(sync, 'go'))) Sys.sleep(0.05)
})
