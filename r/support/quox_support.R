# Support functions that the engine's R command file sources right after
# library(quox), under the names the command file calls: a check of the
# factor columns of the data, the writers of the statistics file and a
# function that removes them all again. The work is done by the package
# (check.factor.vars, ddf.stats, dht.stats and write.stats in quox); the
# codes and their units are listed in docs/statistic-codes.md.
#
# The host passes what it knows through the environment:
#   PRAMBLE_DISTANCE_UNIT, PRAMBLE_EFFORT_UNIT, PRAMBLE_AREA_UNIT
#     unit names (e.g. "Meter", "Kilometer", "Square kilometer"); the
#     non-empty ones become options(quox.units = list(distance =, effort =,
#     area =)), which dht() and plot() name in their output;
#   PRAMBLE_PRECISE_STATS
#     a file that receives the same statistics lines as the statistics file,
#     with every value at full double precision (17 significant digits),
#     and after the density statistics one line "label<tab>RR<tab>LABEL"
#     per region row RR of their codes.

local({
  units <- trimws(Sys.getenv(c("PRAMBLE_DISTANCE_UNIT", "PRAMBLE_EFFORT_UNIT", "PRAMBLE_AREA_UNIT")))
  names(units) <- c("distance", "effort", "area")
  if (any(nzchar(units))) options(quox.units = as.list(units[nzchar(units)]))
})

check.factor.vars <- function(data, vars) quox::check.factor.vars(data, vars)

write.stats.ddf <- function(file, append, model, summary = NULL, gof = NULL) {
  write.stats.files(file, append, quox::ddf.stats(model, summary, gof))
}

write.stats.dht <- function(file, append, dht) {
  n <- write.stats.files(file, append, quox::dht.stats(dht))
  precise <- Sys.getenv("PRAMBLE_PRECISE_STATS")
  rows <- seq_len(min(dht$nregions, 99L))
  if (nzchar(precise) && length(rows)) {
    labels <- gsub("[\t\r\n]", " ", as.character(dht$clusters$N$Label[rows]))
    cat(sprintf("label\t%02d\t%s\n", rows, labels), file = precise, append = TRUE, sep = "")
  }
  invisible(n)
}

# The statistics file and, when the host names one, the precise file, with
# the same append semantics.
write.stats.files <- function(file, append, stats) {
  n <- quox::write.stats(file, append, stats)
  precise <- Sys.getenv("PRAMBLE_PRECISE_STATS")
  if (nzchar(precise)) quox::write.stats(precise, append, stats, precise = TRUE)
  invisible(n)
}

remove.quox.support.functions <- function() {
  env <- parent.env(environment())
  names <- c("check.factor.vars", "write.stats.ddf", "write.stats.dht", "write.stats.files",
             "remove.quox.support.functions")
  rm(list = intersect(names, ls(env, all.names = TRUE)), envir = env)
  invisible(NULL)
}
