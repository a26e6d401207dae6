# R stops with an error of its own once the package is attached.
if (any(grepl('in\\.r$', commandArgs()))) local({
  setHook(packageEvent('quox', 'attach'), function(...) stop('no survey today'))
})
