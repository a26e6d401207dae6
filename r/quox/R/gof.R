# Goodness of fit of a detection function.
#
# Chi-square test over distance intervals. The distance part compares the
# counts of detected distances with sum_i int_bin f_i(x) dx, f_i the fitted
# density of object i's distance. For double-observer methods the mr part
# compares, in each interval, the counts of capture histories with the sums
# of their fitted conditional probabilities at the objects' distances. The
# degrees of freedom of the total are (cells - 1 per table) minus the
# number of parameters.
#
# Cramer-von Mises test (exact distances only): u_i = F_i(x_i), the fitted
# distribution function of object i's distance; W = 1/(12n) +
# sum (u_(i) - (2i - 1)/(2n))^2 and its asymptotic distribution. The Q-Q
# plot shows the fitted u_(i) against the empirical (i - 0.5)/n; its title
# names the model (see page.title).

ddf.gof <- function(model, breaks = NULL, nc = NULL, qq = TRUE, lwd = 1, lty = 1, pch = 1,
                    cex = 1, main = "", ...) {
  if (!inherits(model, "ddf")) stop("ddf.gof needs a model fitted by ddf()", call. = FALSE)
  res <- gof.tests(model, breaks, nc)
  if (qq && !is.null(res$qq)) {
    gof.qqplot(res$qq, lwd = lwd, lty = lty, pch = pch, cex = cex, main = page.title(model, "Q-Q plot", main))
  }
  res
}

# The tests without drawing: the chi-square tables and statistics and, for
# exact distances, the Cramer-von Mises test with the points of the Q-Q plot.
gof.tests <- function(model, breaks = NULL, nc = NULL) {
  meta <- model$meta.data
  breaks <- if (is.null(breaks)) default.breaks(model, nc) else check.breaks(model, breaks)
  nb <- length(breaks) - 1L
  nht <- length(model$ht)
  j <- seq_len(nht)

  # distance part
  mu <- int.h(model, j, meta$left, meta$width)
  pr <- matrix(int.h(model, rep(j, times = nb), rep(breaks[-(nb + 1L)], each = nht),
                     rep(breaks[-1L], each = nht)), nrow = nht) / mu
  expected <- colSums(pr)
  observed <- tabulate(object.bins(model, model$ht, breaks), nb)
  ds.part <- chisq.part(observed, expected,
                        df = nb - 1L - (if (model$info$fi) 0L else length(model$ids)))
  ds.part$table <- data.frame(from = breaks[-(nb + 1L)], to = breaks[-1L],
                              observed = observed, expected = expected)
  res <- list(breaks = breaks, ds = ds.part, n = nht)

  # mr part
  if (model$info$double) {
    res$mr <- gof.mr(model, breaks)
    tot.df <- ds.part$table.df + res$mr$table.df - model$npar
    tot <- ds.part$chisq + res$mr$chisq
    res$total <- list(chisq = tot, df = tot.df,
                      p = if (tot.df > 0) pchisq(tot, tot.df, lower.tail = FALSE) else NA_real_)
  } else {
    res$total <- ds.part[c("chisq", "df", "p")]
  }

  # Cramer-von Mises and Q-Q plot
  if (!meta$binned) {
    x <- model$data$distance[model$ht]
    u <- pmin(pmax(int.h(model, j, meta$left, x) / mu, 0), 1)
    us <- sort(u)
    n <- length(us)
    emp <- (2 * seq_len(n) - 1) / (2 * n)
    w <- 1 / (12 * n) + sum((us - emp)^2)
    res$cvm <- list(W = w, p = 1 - pcvm(w))
    res$qq <- data.frame(empirical = emp, fitted = us)
  }
  class(res) <- "ddf.gof"
  res
}

# Q-Q plot of the fitted against the empirical distribution function, on the
# current graphics device.
gof.qqplot <- function(qq, lwd = 1, lty = 1, pch = 1, cex = 1, main = "") {
  plot(qq$empirical, qq$fitted, xlim = c(0, 1), ylim = c(0, 1), xlab = "Empirical cdf",
       ylab = "Fitted cdf", main = main, cex.main = title.cex(main), pch = pch, cex = cex)
  abline(0, 1, lwd = lwd, lty = lty)
}

chisq.part <- function(observed, expected, df) {
  ok <- expected > 0
  chi <- sum((observed[ok] - expected[ok])^2 / expected[ok])
  list(chisq = chi, df = df, table.df = sum(ok) - 1L,
       p = if (df > 0) pchisq(chi, df, lower.tail = FALSE) else NA_real_)
}

gof.mr <- function(model, breaks) {
  mode <- model$info$mode
  o <- model$data
  rows <- model$mr$setup$rows
  x <- o$distance[rows]
  p1 <- cond.p(model, rows, x, 1)
  bin <- object.bins(model, rows, breaks)
  nb <- length(breaks) - 1L
  d1 <- o$d1[rows]; d2 <- o$d2[rows]
  if (mode == "io") {
    p2 <- cond.p(model, rows, x, 2)
    pd <- 1 - (1 - p1) * (1 - p2)
    probs <- cbind(`10` = p1 * (1 - p2) / pd, `01` = (1 - p1) * p2 / pd, `11` = p1 * p2 / pd)
    hist <- ifelse(d1 == 1 & d2 == 1, 3L, ifelse(d1 == 1, 1L, 2L))
  } else if (mode == "trial") {
    probs <- cbind(`11` = p1, `01` = 1 - p1)
    hist <- ifelse(d1 == 1, 1L, 2L)
  } else {
    probs <- cbind(`1.` = 1 / (2 - p1), `01` = (1 - p1) / (2 - p1))
    hist <- ifelse(d1 == 1, 1L, 2L)
  }
  nh <- ncol(probs)
  obs <- matrix(0, nb, nh, dimnames = list(NULL, colnames(probs)))
  ex <- obs
  for (h in seq_len(nh)) {
    obs[, h] <- tabulate(bin[hist == h], nb)
    ex[, h] <- vapply(seq_len(nb), function(b) sum(probs[bin == b, h]), 0)
  }
  ok <- ex > 0
  chi <- sum((obs[ok] - ex[ok])^2 / ex[ok])
  filled <- sum(rowSums(ex) > 0)
  table.df <- filled * (nh - 1L)
  df <- table.df - length(model$imr)
  list(chisq = chi, df = df, table.df = table.df,
       p = if (df > 0) pchisq(chi, df, lower.tail = FALSE) else NA_real_,
       observed = obs, expected = ex,
       from = breaks[-(nb + 1L)], to = breaks[-1L],
       histories = switch(mode, io = "10 seen by observer 1 only, 01 by observer 2 only, 11 by both",
                          trial = "among the objects seen by observer 2: 11 also seen by observer 1, 01 missed by observer 1",
                          rem = "1. seen by observer 1, 01 missed by observer 1 and seen by observer 2"))
}

# Asymptotic distribution function of the Cramer-von Mises statistic
# (Anderson and Darling, 1952).
pcvm <- function(q) {
  vapply(q, function(z) {
    if (!is.finite(z)) return(if (z > 0) 1 else NA_real_)
    if (z <= 0) return(0)
    j <- 0:40
    k <- (4 * j + 1)^2 / (16 * z)
    coef <- exp(lgamma(j + 0.5) - lgamma(0.5) - lgamma(j + 1))
    terms <- coef * sqrt(4 * j + 1) * exp(-k) * besselK(k, 0.25)
    min(1, max(0, sum(terms[is.finite(terms)]) / (pi * sqrt(z))))
  }, 0)
}

print.ddf.gof <- function(x, ...) {
  cat("\nGoodness of fit results for the fitted detection function\n\n")
  cat("Chi-square tests\n")
  cat("Distance part (detected distances by interval):\n")
  tab <- x$ds$table
  tab$chisq <- ifelse(tab$expected > 0, (tab$observed - tab$expected)^2 / tab$expected, NA)
  print(format(signif(tab, 5)), row.names = FALSE)
  cat("  chi-square ", format(x$ds$chisq, digits = 6), ", df ", x$ds$df, ", P ",
      fmt.p(x$ds$p), "\n", sep = "")
  if (!is.null(x$mr)) {
    cat("\nMark-recapture part (capture histories by interval; ", x$mr$histories, "):\n", sep = "")
    ob <- x$mr$observed; ex <- x$mr$expected
    tab <- data.frame(from = x$mr$from, to = x$mr$to)
    for (h in colnames(ob)) {
      tab[[paste0("obs.", h)]] <- ob[, h]
      tab[[paste0("exp.", h)]] <- signif(ex[, h], 5)
    }
    print(format(tab), row.names = FALSE)
    cat("  chi-square ", format(x$mr$chisq, digits = 6), ", df ", x$mr$df, ", P ",
        fmt.p(x$mr$p), "\n", sep = "")
    cat("\nTotal chi-square ", format(x$total$chisq, digits = 6), ", df ", x$total$df, ", P ",
        fmt.p(x$total$p), "\n", sep = "")
  }
  if (!is.null(x$cvm)) {
    cat("\nCramer-von Mises test (unweighted)\n")
    cat("  W ", format(x$cvm$W, digits = 6), ", P ", fmt.p(x$cvm$p), "\n", sep = "")
  }
  cat("\n")
  invisible(x)
}

fmt.p <- function(p) if (is.na(p)) "not available (no degrees of freedom)" else format(signif(p, 4))
