# R fills the file system of its command folder before the command file runs.
if (any(grepl('in\\.r$', commandArgs()))) local({
  f <- commandArgs()[which(commandArgs() == '-f') + 1]
  try(writeBin(raw(4 * 2^20), file.path(dirname(f), 'filler')), silent = TRUE)
})
