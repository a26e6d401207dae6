# Simulation check of the quox estimators: surveys with known truth are
# simulated, analysed with ddf() and dht() as the engine's command file does,
# and per scenario the relative bias of the total abundance estimate (with
# its Monte-Carlo se), the coverage of its 95% confidence interval, the mean
# estimated cv (log(ucl/lcl)/3.92, the cv the interval implies), the spread
# (sd of log(estimate/N) across surveys) and their ratio are reported.
#
#   Rscript r/sim/check.R                 # full check, 200 surveys per scenario
#   Rscript r/sim/check.R --quick         # smoke test, 10 surveys per scenario
#   Rscript r/sim/check.R --reps 500 --seed 11 --md out.md
#   Rscript r/sim/check.R --only rem.sh.hn,rem.sh.hn.x2 --reps 100
#   Rscript r/sim/check.R --only trial.sh.hn --terms  # the variance term by term
#
# Every scenario draws from its own random stream (seed + a number made from
# its name, or from the name given as its stream), so a scenario gives the
# same surveys whether run alone or not, and scenarios that share a stream
# fit different models to the same surveys.
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
terms <- "--terms" %in% args

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
`%||%` <- function(a, b) if (is.null(a)) b else a

hn <- function(x, s) exp(-x^2 / (2 * s^2))
hr <- function(x, s, b) 1 - exp(-(x / s)^(-b))

# Shared availability: a cluster at distance x is available with
# probability a(x, z), the same event for both observers (diving, hidden,
# far off); each observer then sees an available cluster on their own with
# a constant probability. Detections are therefore correlated away from the
# line and independent only at distance 0, where a = 1: the case point
# independence is made for. For removal, observer 2 searches only what
# observer 1 missed. The true p.(0) is 1 - (1 - p1)(1 - p2), observer 1's
# p1(0) for trial.
shared <- function(avail, p1, p2, removal = FALSE) {
  function(x, z) {
    a <- runif(length(x)) < avail(x, z)
    d1 <- a & runif(length(x)) < p1
    d2 <- a & runif(length(x)) < p2
    if (removal) d2 <- d2 & !d1
    cbind(d1 = d1, d2 = d2)
  }
}
avail.hn <- function(x, z) hn(x, 20)
avail.hr <- function(x, z) hr(x, 22, 3)
# the availability scale grows with cluster size: log sigma linear in size
avail.size <- function(x, z) hn(x, 20 * exp(0.12 * (z$size - 2.5)))
mr.io <- ~glm(link = "logit", formula = ~distance + observer)
mr.d <- ~glm(link = "logit", formula = ~distance)
shared.sc <- function(method, key, avail, mult = 1, ds = NULL, mr = NULL, stream = NULL) {
  rem <- method == "rem"
  p <- if (rem) c(0.70, 0.70) else c(0.85, 0.70)
  # limits: |bias| <= 3% (removal, whose small-sample bias is documented,
  # 5%), coverage 93-97%, estimated cv within 10% of the spread
  list(method = method, mult = mult, stream = stream, bias.max = if (rem) 0.05 else 0.03,
       cover.lim = c(0.93, 0.97), ratio.lim = c(0.9, 1.1),
       ds = ds %||% as.formula(sprintf("~cds(key = '%s', formula = ~1)", key)),
       mr = mr %||% if (method == "io") mr.io else mr.d,
       p0 = if (method == "trial") p[1] else 1 - (1 - p[1]) * (1 - p[2]),
       mu = if (is.null(ds)) integrate(function(x) avail(x, NULL), 0, width)$value,
       detect = shared(avail, p[1], p[2], removal = rem))
}

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
               }),
  io.sh.hn = shared.sc("io", "hn", avail.hn),
  io.sh.hr = shared.sc("io", "hr", avail.hr),
  io.sh.size = shared.sc("io", "hn", avail.size, ds = ~mcds(key = "hn", formula = ~size),
                         mr = ~glm(link = "logit", formula = ~distance + observer + size)),
  trial.sh.hn = shared.sc("trial", "hn", avail.hn),
  trial.sh.hr = shared.sc("trial", "hr", avail.hr),
  rem.sh.hn = shared.sc("rem", "hn", avail.hn),
  rem.sh.hr = shared.sc("rem", "hr", avail.hr),
  # removal's small-sample bias against the number of objects: the same
  # design with 1.5, 2 and 4 times the density
  rem.sh.hn.x1.5 = shared.sc("rem", "hn", avail.hn, mult = 1.5),
  rem.sh.hn.x2 = shared.sc("rem", "hn", avail.hn, mult = 2),
  rem.sh.hn.x4 = shared.sc("rem", "hn", avail.hn, mult = 4),
  rem.sh.hr.x1.5 = shared.sc("rem", "hr", avail.hr, mult = 1.5),
  rem.sh.hr.x2 = shared.sc("rem", "hr", avail.hr, mult = 2),
  rem.sh.hr.x4 = shared.sc("rem", "hr", avail.hr, mult = 4),
  # the surveys of rem.sh.hn and rem.sh.hr fitted with an mr model without
  # a distance term (the true one here): p.(0) is then not extrapolated
  # from the distances of the detections to the line
  rem.sh.hn.mr1 = shared.sc("rem", "hn", avail.hn, mr = ~glm(link = "logit", formula = ~1),
                            stream = "rem.sh.hn"),
  rem.sh.hr.mr1 = shared.sc("rem", "hr", avail.hr, mr = ~glm(link = "logit", formula = ~1),
                            stream = "rem.sh.hr"),
  # removal under full independence, about as many objects as rem.sh.hn;
  # weakly identified where p is far below 1 (docs/statistics.md), so it is
  # shown but not held to the limits
  rem.fi = list(method = "rem.fi", ds = NULL, mr = mr.d, informative = TRUE,
                detect = function(x, z) {
                  p <- plogis(1.2 - 0.07 * x)
                  d1 <- runif(length(x)) < p
                  d2 <- !d1 & runif(length(x)) < p
                  cbind(d1 = d1, d2 = d2)
                }))
stream.seed <- function(nm) {
  st <- scenarios[[nm]]$stream %||% nm
  seed + sum(utf8ToInt(st) * seq_len(nchar(st))) %% 100000L
}
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
    n.pop <- rpois(1, density * (sc$mult %||% 1) * regions$Area[r])
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

# The variance of log N as the fit puts it together, term by term, for a
# point-independence fit with constant covariates, where N = E W / (p.(0) mu)
# with E = sum_r (A_r / a_r) n_r: the encounter part, var log p.(0) (mr
# part), var log mu (ds part), their covariance (trial) and the covariance
# of the encounter part with the detection part (trial). Besides, the
# encounter factor E / N of the survey.
variance.terms <- function(m, d, s) {
  v <- m$vcov
  th <- m$par
  nh <- d$clusters$N$Estimate[nrow(d$clusters$N)]
  g0 <- num.jacobian(function(t) log(m$p0fun(t)[1]), th)
  gm <- num.jacobian(function(t) log(m$pfun(t)[1] / m$p0fun(t)[1]), th)
  fac <- d$regions$area.used / d$regions$covered
  c(enc = sum(fac * d$clusters$n) / s$truth, v.enc = sum(d$clusters$var.enc) / nh^2,
    v.p0 = drop(g0 %*% v %*% t(g0)), v.mu = drop(gm %*% v %*% t(gm)),
    c.p0mu = drop(g0 %*% v %*% t(gm)), c.enc = sum(d$clusters$cross) / nh^2,
    v.tot = d$clusters$N$se[nrow(d$clusters$N)]^2 / nh^2)
}

# Each term's mean over the surveys against what the surveys show: the
# variances and covariances of log E, log p.(0) and log mu across surveys.
# The signs are those of their parts in var log N = var log E + var log p.(0)
# + var log mu + 2 cov(log p.(0), log mu) - 2 cov(log E, log p.(0) + log mu).
show.terms <- function(name, tv, out) {
  le <- log(tv[, "enc"]); lp <- log(out$p0); lm <- log(out$mu)
  cat(sprintf("  %s variance of log N term by term, sd scale (sign kept): fitted mean / across surveys
", name))
  ss <- function(v) sign(v) * sqrt(abs(v))
  show <- function(label, fitted, seen) {
    cat(sprintf("    %-34s %+.4f / %+.4f
", label, ss(fitted), ss(seen)))
  }
  show("encounter (var log E)", mean(tv[, "v.enc"]), var(le))
  show("mr part (var log p.(0))", mean(tv[, "v.p0"]), var(lp))
  show("ds part (var log mu)", mean(tv[, "v.mu"]), var(lm))
  show("2 cov(log p.(0), log mu)", 2 * mean(tv[, "c.p0mu"]), 2 * cov(lp, lm))
  show("-2 cov(log E, log p.(0) mu)", 2 * mean(tv[, "c.enc"]), -2 * cov(le, lp + lm))
  show("total (var log N)", mean(tv[, "v.tot"]), var(log(out$est / out$truth)))
}

pct <- function(v) if (is.na(v)) "-" else sprintf("%+.2f%%", 100 * v)

run.scenario <- function(name, sc) {
  out <- data.frame(est = rep(NA_real_, reps), lcl = NA_real_, ucl = NA_real_, se = NA_real_,
                    truth = NA_real_, n = NA_real_, p0 = NA_real_, mu = NA_real_)
  tv <- matrix(NA_real_, reps, 7, dimnames = list(NULL, c("enc", "v.enc", "v.p0", "v.mu", "c.p0mu",
                                                          "c.enc", "v.tot")))
  failed <- character(0)
  warned <- character(0)
  for (i in seq_len(reps)) {
    s <- simulate.survey(sc)
    out$truth[i] <- s$truth
    r <- tryCatch(withCallingHandlers({
      m <- ddf(method = sc$method, dsmodel = sc$ds, mrmodel = sc$mr, control = list(showit = 0),
               data = s$ddf, meta.data = list(width = width, left = 0))
      d <- dht(m, s$region, s$sample, s$obs, se = TRUE, options = list(varflag = 1, convert.units = 0.001))
      # the two factors of the covered-region abundance under point
      # independence: p.(0) from the mr part, mu = W p / p.(0) from the ds part
      p0 <- if (is.null(m$p0)) NA_real_ else m$p0[1]
      if (terms && !is.null(sc$mu)) tv[i, ] <- variance.terms(m, d, s)
      c(unlist(d$clusters$N[nrow(d$clusters$N), c("Estimate", "lcl", "ucl", "se")]),
        length(m$ht), p0, width * m$fitted[1] / p0)
    }, warning = function(w) {
      warned <<- c(warned, conditionMessage(w))
      invokeRestart("muffleWarning")
    }), error = function(e) conditionMessage(e))
    if (is.character(r)) failed <- c(failed, r) else out[i, c("est", "lcl", "ucl", "se", "n", "p0", "mu")] <- r
  }
  ok <- is.finite(out$est)
  rb <- (out$est[ok] - out$truth[ok]) / out$truth[ok]
  cover <- out$lcl[ok] <= out$truth[ok] & out$truth[ok] <= out$ucl[ok]
  cv <- mean(log(out$ucl[ok] / out$lcl[ok])) / (2 * qnorm(0.975))
  spread <- sd(log(out$est[ok] / out$truth[ok]))
  # the cv from the se alone, without the t quantile of the interval
  cv.se <- mean(out$se[ok] / out$est[ok])
  # relative bias of 1/p.(0) and of W/mu (rows with constant covariates)
  fac.bias <- c(p0 = NA_real_, mu = NA_real_)
  if (!is.null(sc$p0)) fac.bias[["p0"]] <- mean(sc$p0 / out$p0[ok]) - 1
  if (!is.null(sc$mu)) fac.bias[["mu"]] <- mean(sc$mu / out$mu[ok]) - 1
  if (terms && !is.null(sc$mu)) show.terms(name, tv[ok, , drop = FALSE], out[ok, ])
  bias.max <- sc$bias.max %||% 0.05
  cover.lim <- sc$cover.lim %||% c(0.90, 0.98)
  ratio.lim <- sc$ratio.lim %||% c(0, Inf)
  list(name = name, method = sc$method, reps = reps, fits = sum(ok), failed = failed, warned = warned,
       truth = mean(out$truth), n = mean(out$n[ok]), est = mean(out$est[ok]),
       bias = mean(rb), bias.se = sd(rb) / sqrt(sum(ok)), coverage = mean(cover),
       cv = cv, spread = spread, ratio = cv / spread, cv.se = cv.se,
       q.ratio = quantile(out$est[ok] / out$truth[ok], c(0.5, 0.95, 0.99, 1), names = FALSE), fac.bias = fac.bias,
       informative = isTRUE(sc$informative),
       pass = abs(mean(rb)) <= bias.max && mean(cover) >= cover.lim[1] && mean(cover) <= cover.lim[2] &&
         cv / spread >= ratio.lim[1] && cv / spread <= ratio.lim[2])
}

t0 <- proc.time()
results <- lapply(names(scenarios), function(nm) {
  set.seed(stream.seed(nm))
  r <- run.scenario(nm, scenarios[[nm]])
  cat(sprintf("%-14s %-6s surveys %4d fitted %4d  n %6.1f  N %8.1f  bias %+6.2f%% (se %.2f%%)  coverage %5.1f%%  cv %.3f  spread %.3f  cv/spread %.2f  se/est %.3f  1/p(0) %s  W/mu %s  %s\n",
              r$name, r$method, r$reps, r$fits, r$n, r$truth, 100 * r$bias, 100 * r$bias.se,
              100 * r$coverage, r$cv, r$spread, r$ratio, r$cv.se, pct(r$fac.bias[["p0"]]), pct(r$fac.bias[["mu"]]),
              if (r$informative) "(shown only)" else if (r$pass) "ok" else "OUTSIDE LIMITS"))
  cat(sprintf("        estimate / N: median %.3f, 95%% %.3f, 99%% %.3f, largest %.3f\n",
              r$q.ratio[1], r$q.ratio[2], r$q.ratio[3], r$q.ratio[4]))
  if (length(r$failed)) cat("        fits that stopped: ", paste(unique(r$failed), collapse = " | "), "\n")
  if (length(r$warned)) {
    cat("        warnings (", length(r$warned), "): ", paste(unique(r$warned), collapse = " | "), "\n", sep = "")
  }
  r
})
elapsed <- (proc.time() - t0)[["elapsed"]]
cat(sprintf("elapsed %.0f s\n", elapsed))

if (nzchar(md.file)) {
  lines <- c("| scenario | method | surveys | fitted | mean n | mean true N | relative bias (se) | 95% CI coverage | mean cv | spread | cv/spread | mean se/estimate | bias of 1/p(0) | bias of W/mu | within limits |",
             "| --- | --- | --- | --- | --- | --- | --- | --- | --- | --- | --- | --- | --- | --- | --- |")
  for (r in results) {
    lines <- c(lines, sprintf("| %s | %s | %d | %d | %.0f | %.0f | %+.2f%% (%.2f%%) | %.1f%% | %.3f | %.3f | %.2f | %.3f | %s | %s | %s |",
                              r$name, r$method, r$reps, r$fits, r$n, r$truth, 100 * r$bias,
                              100 * r$bias.se, 100 * r$coverage, r$cv, r$spread, r$ratio, r$cv.se,
                              pct(r$fac.bias[["p0"]]), pct(r$fac.bias[["mu"]]),
                              if (r$informative) "shown only" else if (r$pass) "yes" else "no"))
  }
  writeLines(lines, md.file)
}
held <- Filter(function(r) !r$informative, results)
if (!all(vapply(held, `[[`, TRUE, "pass"))) quit(status = 1)
