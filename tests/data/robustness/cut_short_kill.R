# The command file's sink(file = RES) calls, counted: at the second one (the
# goodness-of-fit section) half a section goes into the results file, then R is killed.
if (any(grepl('in\\.r$', commandArgs()))) local({
  n <- 0
  assign('sink', function(file = NULL, ...) {
    if (!is.null(file)) {
      n <<- n + 1
      if (n == 2) {
        cat('\tDetection Fct/GOF\t\nhalf a lin', file = file, append = TRUE)
        tools::pskill(Sys.getpid(), tools::SIGKILL)
      }
    }
    base::sink(file = file, ...)
  }, envir = globalenv())
})
