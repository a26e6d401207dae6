# Installs the freshly built quox archive into a temporary library and runs the
# package's testthat tests against it (in the package's namespace, so that
# internal functions can be checked too). Called by ctest with QUOX_ARCHIVE
# (the archive) and QUOX_SUPPORT_FILE (the host's support functions) set.
# Ends with a line "testthat: N passed, N failed" and a non-zero exit status
# when a test failed.
archive <- Sys.getenv("QUOX_ARCHIVE")
if (!nzchar(archive) || !file.exists(archive)) {
  message("QUOX_ARCHIVE does not name the package archive: '", archive, "'")
  quit(status = 2)
}
lib <- tempfile("quox-lib-")
dir.create(lib)
install.packages(archive, repos = NULL, lib = lib, quiet = TRUE)
.libPaths(c(lib, .libPaths()))
Sys.setenv(R_LIBS = paste(.libPaths(), collapse = .Platform$path.sep))
suppressPackageStartupMessages(library(quox))
self <- normalizePath(sub("^--file=", "", grep("^--file=", commandArgs(FALSE), value = TRUE)[1]))
tests <- file.path(dirname(self), "quox", "tests", "testthat")
if (!nzchar(Sys.getenv("QUOX_SUPPORT_FILE"))) {
  Sys.setenv(QUOX_SUPPORT_FILE = file.path(dirname(self), "support", "quox_support.R"))
}
res <- as.data.frame(testthat::test_dir(tests, package = "quox", load_package = "installed",
                                        reporter = "summary", stop_on_failure = FALSE))
failed <- sum(res$failed) + sum(res$error)
passed <- sum(res$nb) - sum(res$failed) - sum(res$skipped)
cat(sprintf("testthat: %d passed, %d failed\n", passed, failed))
unlink(lib, recursive = TRUE)
quit(status = if (failed > 0) 1 else 0)
