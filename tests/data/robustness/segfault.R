# R kills itself with signal 11L once the package is attached.
if (any(grepl('in\\.r$', commandArgs()))) local({
  setHook(packageEvent('quox', 'attach'), function(...) tools::pskill(Sys.getpid(), 11L))
})
