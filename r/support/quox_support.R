# Support functions that the engine's R command file sources right after
# library(quox): a check of the factor columns of the data, the writers of
# the statistics file and a function that removes them all again.
#
# The statistics file holds one statistic per line: the four-digit code,
# a tab and the value. Values that are missing, not a number or infinite are
# not written. The codes and their units are listed in
# docs/statistic-codes.md.

check.factor.vars <- function(data, vars) {
  miss <- vars[!vars %in% names(data)]
  if (length(miss)) {
    stop("factor column '", miss[1], "' named in the model definition is not in the data ",
         "(columns: ", paste(names(data), collapse = ", "), ")", call. = FALSE)
  }
  invisible(TRUE)
}

.quox.stat.lines <- function(codes, values) {
  values <- suppressWarnings(as.numeric(values))
  keep <- is.finite(values)
  if (!any(keep)) return(character(0))
  txt <- formatC(values[keep], digits = 9, format = "fg")
  paste0(sprintf("%04d", as.integer(codes[keep])), "\t", trimws(txt))
}

.quox.write.stats <- function(file, append, codes, values) {
  lines <- .quox.stat.lines(codes, values)
  con <- file(file, open = if (isTRUE(append)) "a" else "w")
  on.exit(close(con))
  if (length(lines)) writeLines(lines, con)
  invisible(length(lines))
}

write.stats.ddf <- function(file, append, model, summary = NULL, gof = NULL) {
  if (is.null(summary)) summary <- summary(model)
  s <- summary
  codes <- c(1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11)
  values <- c(s$n, s$npar, s$AIC, s$average.p, s$average.p.se, s$Nhat, s$Nhat.se,
              s$Nhat.se / s$Nhat, s$lnl, s$width, s$left)
  if (isTRUE(s$double)) {
    codes <- c(codes, 12, 13, 14, 15, 16, 17, 18, 19)
    values <- c(values, s$average.p0, s$average.p0.se, s$observer.p[1], s$observer.p.se[1],
                s$observer.p[2], s$observer.p.se[2], s$n1, s$n2)
    codes <- c(codes, 20)
    values <- c(values, s$n12)
  }
  if (!is.null(gof)) {
    codes <- c(codes, 30, 31, 32)
    values <- c(values, gof$total$chisq, gof$total$df, gof$total$p)
    codes <- c(codes, 33, 34, 35)
    values <- c(values, gof$ds$chisq, gof$ds$df, gof$ds$p)
    if (!is.null(gof$mr)) {
      codes <- c(codes, 36, 37, 38)
      values <- c(values, gof$mr$chisq, gof$mr$df, gof$mr$p)
    }
    if (!is.null(gof$cvm)) {
      codes <- c(codes, 39, 40)
      values <- c(values, gof$cvm$W, gof$cvm$p)
    }
  }
  .quox.write.stats(file, append, codes, values)
}

write.stats.dht <- function(file, append, dht) {
  codes <- numeric(0)
  values <- numeric(0)
  add <- function(c, v) {
    codes <<- c(codes, c)
    values <<- c(values, v)
  }
  nr <- min(dht$nregions, 99L)
  # row 0 is the total, rows 1.. the regions in the order of the region table
  row.of <- function(tab, r) if (r == 0) nrow(tab) else r
  est.codes <- function(kind, tab) {
    for (r in 0:nr) {
      i <- row.of(tab, r)
      base <- kind * 1000 + r * 10
      add(base + 0:5, unlist(tab[i, c("Estimate", "se", "cv", "lcl", "ucl", "df")]))
    }
  }
  est.codes(1, dht$clusters$N)
  est.codes(2, dht$clusters$D)
  if (!is.null(dht$individuals)) {
    est.codes(3, dht$individuals$N)
    est.codes(4, dht$individuals$D)
  }
  if (!is.null(dht$Expected.S)) {
    for (r in 0:nr) {
      i <- row.of(dht$Expected.S, r)
      add(5000 + r * 10 + 0:2, unlist(dht$Expected.S[i, c("Expected.S", "se", "cv")]))
    }
  }
  reg <- dht$regions
  tot <- function(v, r) if (r == 0) sum(v) else v[r]
  for (r in 0:nr) {
    n <- tot(dht$clusters$n, r)
    eff <- tot(reg$effort, r)
    add(6000 + r * 10 + 0:6, c(n, tot(reg$k, r), eff, n / eff, tot(reg$area, r),
                               tot(reg$covered, r),
                               if (!is.null(dht$individuals)) tot(dht$individuals$n, r) else NA))
  }
  .quox.write.stats(file, append, codes, values)
}

remove.quox.support.functions <- function() {
  env <- parent.env(environment())
  names <- c("check.factor.vars", ".quox.stat.lines", ".quox.write.stats", "write.stats.ddf",
             "write.stats.dht", "remove.quox.support.functions")
  rm(list = intersect(names, ls(env, all.names = TRUE)), envir = env)
  invisible(NULL)
}
