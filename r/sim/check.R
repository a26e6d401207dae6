# Simulation check of the quox estimators: surveys with known truth are
# simulated, analysed with ddf() and dht() as the engine's command file does,
# and the relative bias of the total abundance estimate and the coverage of
# its 95% confidence interval are reported per scenario.
#
#   Rscript r/sim/check.R                 # full check, 200 surveys per scenario
#   Rscript r/sim/check.R --quick         # smoke test, 10 surveys per scenario
#   Rscript r/sim/check.R --reps 500 --seed 11 --md out.md
#
# The package is taken from the source tree next to this script (r/quox/R);
# with --installed the installed package quox is used instead.
# Run it in the background with nice; it is not part of the test suite.

args <- commandArgs(trailingOnly = TRUE)
opt <- function(name, default) {
  i <- match(name, args)
  if (is.na(i) || i == length(args)) default else args[i + 1L]
}
quick <- "--quick" %in% args
reps <- as.integer(opt("--reps", if (quick) 10L else 200L))
seed <- as.integer(opt("--seed", 20261206L))
md.file <- opt("--md", "")
only <- opt("--only", "")

if ("--installed" %in% args) {
  suppressPackageStartupMessages(library(quox))
} else {
  file.arg <- grep("^--file=", commandArgs(FALSE), value = TRUE)
  here <- if (length(file.arg)) dirname(normalizePath(sub("^--file=", "", file.arg[1]))) else "r/sim"
  src <- file.path(here, "..", "quox", "R")
  for (f in sort(list.files(src, pattern = "\\.R$", full.names = TRUE))) sys.source(f, envir = globalenv())
}

# ---------------------------------------------------------------------------
# Survey design: two regions (areas in km2), ten transects each (lengths in
# km), distances in m with truncation at 50 m, so convert.units is 0.001.
width <- 50
regions <- data.frame(Region.Label = c("1. North", "2. South"), Area = c(100, 150))
lengths <- list(c(3.2, 5.1, 4.4, 6.0, 2.8, 5.5, 4.9, 3.7, 6.3, 4.1),
                c(5.8, 6.6, 4.2, 7.1, 5.0, 6.4, 3.9, 5.6, 6.9, 4.5))
density <- 40  # clusters per km2

hn <- function(x, s) exp(-x^2 / (2 * s^2))
hr <- function(x, s, b) 1 - exp(-(x / s)^(-b))

# Each scenario turns perpendicular distances of the covered objects (and
# their covariates) into detection histories: a matrix with columns d1, d2.
scenarios <- list(
  ds.hn = list(method = "ds", ds = ~cds(key = "hn", formula = ~1), mr = NULL,
               detect = function(x, z) {
                 d <- runif(length(x)) < hn(x, 20)
                 cbind(d1 = d, d2 = 0)
               }),
  ds.hr = list(method = "ds", ds = ~cds(key = "hr", formula = ~1), mr = NULL,
               detect = function(x, z) {
                 d <- runif(length(x)) < hr(x, 15, 3)
                 cbind(d1 = d, d2 = 0)
               }),
  io = list(method = "io", ds = ~mcds(key = "hn", formula = ~sex),
            mr = ~glm(link = "logit", formula = ~distance + observer),
            detect = function(x, z) {
              # point independence: detected by either with p.(0) g(x, sex), the
              # history from independent conditional probabilities
              s <- ifelse(z$sex == "M", 24, 18)
              p1 <- plogis(1.0 - 0.04 * x); p2 <- plogis(0.5 - 0.04 * x)
              pd <- 1 - (1 - p1) * (1 - p2)
              pd0 <- 1 - (1 - plogis(1.0)) * (1 - plogis(0.5))
              seen <- runif(length(x)) < pd0 * hn(x, s)
              u <- runif(length(x))
              h10 <- p1 * (1 - p2) / pd; h01 <- (1 - p1) * p2 / pd
              d1 <- seen & (u < h10 | u >= h10 + h01)
              d2 <- seen & (u >= h10)
              cbind(d1 = d1, d2 = d2)
            }),
  trial = list(method = "trial", ds = ~cds(key = "hn", formula = ~1),
               mr = ~glm(link = "logit", formula = ~distance),
               detect = function(x, z) {
                 # observer 1 sees with p1(0) g(x); the tracker sees with a
                 # probability that depends on observer 1's outcome, chosen so
                 # that Pr(observer 1 | tracker, x) = p1(x)
                 p1 <- plogis(1.0 - 0.04 * x)
                 u1 <- plogis(1.0) * hn(x, 20)
                 a <- 0.8
                 b <- pmin(1, u1 * a * (1 - p1) / ((1 - u1) * p1))
                 d1 <- runif(length(x)) < u1
                 d2 <- runif(length(x)) < ifelse(d1, a, b)
                 cbind(d1 = d1, d2 = d2)
               }),
  rem = list(method = "rem", ds = ~cds(key = "hn", formula = ~1),
             mr = ~glm(link = "logit", formula = ~distance),
             detect = function(x, z) {
               p <- plogis(1.5 - 0.03 * x)
               pd0 <- 1 - (1 - plogis(1.5))^2
               seen <- runif(length(x)) < pd0 * hn(x, 20)
               first <- runif(length(x)) < 1 / (2 - p)
               cbind(d1 = seen & first, d2 = seen & !first)
             }),
  io.fi = list(method = "io.fi", ds = NULL,
               mr = ~glm(link = "logit", formula = ~distance + observer),
               detect = function(x, z) {
                 d1 <- runif(length(x)) < plogis(1.2 - 0.07 * x)
                 d2 <- runif(length(x)) < plogis(0.8 - 0.07 * x)
                 cbind(d1 = d1, d2 = d2)
               }))
if (nzchar(only)) scenarios <- scenarios[strsplit(only, ",")[[1]]]

# One survey: the regional populations, the covered objects on each
# transect, their detections, and the four tables of the command file.
simulate.survey <- function(sc) {
  samples <- NULL
  objects <- NULL
  truth <- 0
  next.id <- 0L
  for (r in seq_len(nrow(regions))) {
    l <- lengths[[r]]
    a <- 2 * width * sum(l) * 0.001
    n.pop <- rpois(1, density * regions$Area[r])
    truth <- truth + n.pop
    n.cov <- rbinom(1, n.pop, a / regions$Area[r])
    tr <- sample.int(length(l), n.cov, replace = TRUE, prob = l)
    lab <- paste0(r, ".", seq_along(l))
    samples <- rbind(samples, data.frame(Sample.Label = lab, Region.Label = regions$Region.Label[r],
                                         Effort = l))
    if (n.cov) {
      objects <- rbind(objects, data.frame(
        object = next.id + seq_len(n.cov), Region.Label = regions$Region.Label[r],
        Sample.Label = lab[tr], distance = runif(n.cov, 0, width),
        sex = factor(sample(c("F", "M"), n.cov, replace = TRUE), levels = c("F", "M")),
        size = 1 + rpois(n.cov, 1.5)))
      next.id <- next.id + n.cov
    }
  }
  h <- sc$detect(objects$distance, objects)
  keep <- h[, "d1"] | h[, "d2"]
  objects <- objects[keep, ]
  h <- h[keep, , drop = FALSE]
  if (sc$method == "ds") {
    ddf.data <- data.frame(objects[, c("object", "distance", "sex", "size")], observer = 1, detected = 1)
  } else {
    n <- nrow(objects)
    idx <- rep(seq_len(n), each = 2)
    ddf.data <- data.frame(objects[idx, c("object", "distance", "sex", "size")],
                           observer = rep(1:2, n), detected = as.vector(t(h)) * 1)
  }
  list(ddf = ddf.data, region = regions, sample = samples,
       obs = objects[, c("object", "Region.Label", "Sample.Label")], truth = truth)
}

run.scenario <- function(name, sc) {
  out <- data.frame(est = rep(NA_real_, reps), lcl = NA_real_, ucl = NA_real_, se = NA_real_,
                    truth = NA_real_)
  failed <- character(0)
  warned <- 0L
  for (i in seq_len(reps)) {
    s <- simulate.survey(sc)
    out$truth[i] <- s$truth
    r <- tryCatch(withCallingHandlers({
      m <- ddf(method = sc$method, dsmodel = sc$ds, mrmodel = sc$mr, control = list(showit = 0),
               data = s$ddf, meta.data = list(width = width, left = 0))
      d <- dht(m, s$region, s$sample, s$obs, se = TRUE, options = list(varflag = 1, convert.units = 0.001))
      unlist(d$clusters$N[nrow(d$clusters$N), c("Estimate", "lcl", "ucl", "se")])
    }, warning = function(w) {
      warned <<- warned + 1L
      invokeRestart("muffleWarning")
    }), error = function(e) conditionMessage(e))
    if (is.character(r)) failed <- c(failed, r) else out[i, 1:4] <- r
  }
  ok <- is.finite(out$est)
  rb <- (out$est[ok] - out$truth[ok]) / out$truth[ok]
  cover <- out$lcl[ok] <= out$truth[ok] & out$truth[ok] <= out$ucl[ok]
  list(name = name, method = sc$method, reps = reps, fits = sum(ok), failed = failed, warned = warned,
       truth = mean(out$truth), est = mean(out$est[ok]),
       bias = mean(rb), bias.se = sd(rb) / sqrt(sum(ok)), coverage = mean(cover),
       sd.est = sd(out$est[ok] - out$truth[ok]), mean.se = sqrt(mean(out$se[ok]^2)),
       pass = abs(mean(rb)) <= 0.05 && mean(cover) >= 0.90 && mean(cover) <= 0.98)
}

set.seed(seed)
t0 <- proc.time()
results <- lapply(names(scenarios), function(nm) {
  r <- run.scenario(nm, scenarios[[nm]])
  cat(sprintf("%-7s %-6s surveys %4d fitted %4d  mean N %8.1f  mean est %8.1f  rel. bias %+6.2f%% (se %.2f%%)  coverage %5.1f%%  sd(est - N) %6.1f  rms se %6.1f  %s\n",
              r$name, r$method, r$reps, r$fits, r$truth, r$est, 100 * r$bias, 100 * r$bias.se,
              100 * r$coverage, r$sd.est, r$mean.se, if (r$pass) "ok" else "OUTSIDE LIMITS"))
  if (length(r$failed)) cat("        fits that stopped: ", paste(unique(r$failed), collapse = " | "), "\n")
  r
})
elapsed <- (proc.time() - t0)[["elapsed"]]
cat(sprintf("elapsed %.0f s\n", elapsed))

if (nzchar(md.file)) {
  lines <- c("| scenario | method | surveys | fitted | mean true N | mean estimate | relative bias (se) | 95% CI coverage | sd(estimate - N) | rms se | within limits |",
             "| --- | --- | --- | --- | --- | --- | --- | --- | --- | --- | --- |")
  for (r in results) {
    lines <- c(lines, sprintf("| %s | %s | %d | %d | %.1f | %.1f | %+.2f%% (%.2f%%) | %.1f%% | %.1f | %.1f | %s |",
                              r$name, r$method, r$reps, r$fits, r$truth, r$est, 100 * r$bias,
                              100 * r$bias.se, 100 * r$coverage, r$sd.est, r$mean.se,
                              if (r$pass) "yes" else "no"))
  }
  writeLines(lines, md.file)
}
if (!all(vapply(results, `[[`, TRUE, "pass"))) quit(status = 1)
