# The statistics file that the host reads after a run: one statistic per
# line, the four-digit code, a tab and the value. Values that are missing,
# not a number or infinite are not written. The codes and their units are
# listed in docs/statistic-codes.md; the host's support file calls these
# functions under the names its command file uses.

# Stops naming the first of the factor columns vars that the data lack.
check.factor.vars <- function(data, vars) {
  miss <- vars[!vars %in% names(data)]
  if (length(miss)) {
    stop("factor column '", miss[1], "' named in the model definition is not in the data ",
         "(columns: ", paste(names(data), collapse = ", "), ")", call. = FALSE)
  }
  invisible(TRUE)
}

# Codes and values of a fitted detection function (0001-0040).
ddf.stats <- function(model, summary = NULL, gof = NULL) {
  s <- if (is.null(summary)) summary(model) else summary
  codes <- c(1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11)
  values <- c(s$n, s$npar, s$AIC, s$average.p, s$average.p.se, s$Nhat, s$Nhat.se,
              s$Nhat.se / s$Nhat, s$lnl, s$width, s$left)
  if (isTRUE(s$double)) {
    codes <- c(codes, 12:20)
    values <- c(values, s$average.p0, s$average.p0.se, s$observer.p[1], s$observer.p.se[1],
                s$observer.p[2], s$observer.p.se[2], s$n1, s$n2, s$n12)
  }
  if (!is.null(gof)) {
    codes <- c(codes, 30:35)
    values <- c(values, gof$total$chisq, gof$total$df, gof$total$p,
                gof$ds$chisq, gof$ds$df, gof$ds$p)
    if (!is.null(gof$mr)) {
      codes <- c(codes, 36:38)
      values <- c(values, gof$mr$chisq, gof$mr$df, gof$mr$p)
    }
    if (!is.null(gof$cvm)) {
      codes <- c(codes, 39, 40)
      values <- c(values, gof$cvm$W, gof$cvm$p)
    }
  }
  stat.table(codes, values)
}

# Codes and values of abundance and density estimates: quantity * 1000 +
# row * 10 + statistic, row 0 the total and rows 1.. the regions in the
# order of the region table (at most 99).
dht.stats <- function(x) {
  nr <- min(x$nregions, 99L)
  rows <- 0:nr
  row.of <- function(tab, r) if (r == 0) nrow(tab) else r
  block <- function(kind, tab, cols) {
    do.call(rbind, lapply(rows, function(r) {
      stat.table(kind * 1000 + r * 10 + seq_along(cols) - 1, unlist(tab[row.of(tab, r), cols]))
    }))
  }
  est <- c("Estimate", "se", "cv", "lcl", "ucl", "df")
  out <- list(block(1, x$clusters$N, est), block(2, x$clusters$D, est))
  if (!is.null(x$individuals)) {
    out <- c(out, list(block(3, x$individuals$N, est), block(4, x$individuals$D, est)))
  }
  if (!is.null(x$Expected.S)) out <- c(out, list(block(5, x$Expected.S, c("Expected.S", "se", "cv"))))
  reg <- x$regions
  tot <- function(v, r) if (r == 0) sum(v) else v[r]
  out <- c(out, lapply(rows, function(r) {
    n <- tot(x$clusters$n, r)
    eff <- tot(reg$effort, r)
    stat.table(6000 + r * 10 + 0:6,
               c(n, tot(reg$k, r), eff, n / eff, tot(reg$area, r), tot(reg$covered, r),
                 if (!is.null(x$individuals)) tot(x$individuals$n, r) else NA))
  }))
  do.call(rbind, out)
}

stat.table <- function(codes, values) {
  data.frame(code = as.integer(codes), value = unname(suppressWarnings(as.numeric(values))))
}

# Writes the statistics (a table of code and value) to file, appending when
# append is TRUE, and returns the number of lines written. precise writes
# every value with 17 significant digits, enough to read back the same
# double.
write.stats <- function(file, append, stats, precise = FALSE) {
  lines <- stat.lines(stats$code, stats$value, precise)
  con <- file(file, open = if (isTRUE(append)) "a" else "w")
  on.exit(close(con))
  if (length(lines)) writeLines(lines, con)
  invisible(length(lines))
}

# The lines of the statistics file: up to 9 significant digits and no
# exponent, or (precise) 17 significant digits in C's %.17g form; values
# that are not finite are left out.
stat.lines <- function(codes, values, precise = FALSE) {
  values <- suppressWarnings(as.numeric(values))
  keep <- is.finite(values)
  if (!any(keep)) return(character(0))
  txt <- if (isTRUE(precise)) sprintf("%.17g", values[keep]) else formatC(values[keep], digits = 9, format = "fg")
  paste0(sprintf("%04d", as.integer(codes[keep])), "\t", trimws(txt))
}
