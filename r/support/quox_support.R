# Support functions that the engine's R command file sources right after
# library(quox), under the names the command file calls: a check of the
# factor columns of the data, the writers of the statistics file and a
# function that removes them all again. The work is done by the package
# (check.factor.vars, ddf.stats, dht.stats and write.stats in quox); the
# codes and their units are listed in docs/statistic-codes.md.

check.factor.vars <- function(data, vars) quox::check.factor.vars(data, vars)

write.stats.ddf <- function(file, append, model, summary = NULL, gof = NULL) {
  quox::write.stats(file, append, quox::ddf.stats(model, summary, gof))
}

write.stats.dht <- function(file, append, dht) quox::write.stats(file, append, quox::dht.stats(dht))

remove.quox.support.functions <- function() {
  env <- parent.env(environment())
  names <- c("check.factor.vars", "write.stats.ddf", "write.stats.dht", "remove.quox.support.functions")
  rm(list = intersect(names, ls(env, all.names = TRUE)), envir = env)
  invisible(NULL)
}
