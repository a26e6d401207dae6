# Installs the freshly built quox archive into a temporary library and runs the
# package's testthat tests. Called by ctest with QUOX_ARCHIVE set.
archive <- Sys.getenv("QUOX_ARCHIVE")
lib <- tempfile("quox-lib-")
dir.create(lib)
install.packages(archive, repos = NULL, lib = lib, quiet = TRUE)
.libPaths(c(lib, .libPaths()))
library(quox)
tests <- file.path(dirname(normalizePath(sub("^--file=", "", grep("^--file=", commandArgs(FALSE), value = TRUE)))), "quox", "tests", "testthat")
if (!dir.exists(tests)) quit(status = 0)
res <- testthat::test_dir(tests, reporter = "summary", stop_on_failure = TRUE)
