# Small simulated data sets and fits shared by the tests. Every generator
# sets its own seed, so the data are the same in every run.

# Single-observer line-transect distances from a half-normal or hazard-rate
# detection function, with a two-level factor that scales sigma.
sim.single <- function(n = 200, w = 50, key = "hn", sigma = 20, shape = 3, sex.effect = 0, seed = 1) {
  set.seed(seed)
  out <- NULL
  while (is.null(out) || nrow(out) < n) {
    x <- runif(4 * n, 0, w)
    sex <- sample(c("F", "M"), 4 * n, replace = TRUE)
    s <- sigma * exp(sex.effect * (sex == "M"))
    g <- if (key == "hn") exp(-x^2 / (2 * s^2)) else 1 - exp(-(x / s)^(-shape))
    keep <- runif(4 * n) < g
    out <- rbind(out, data.frame(distance = x[keep], sex = sex[keep]))
  }
  out <- out[seq_len(n), ]
  data.frame(object = seq_len(n), observer = 1, detected = 1, distance = out$distance,
             sex = factor(out$sex), size = 1 + (seq_len(n) %% 3))
}

# Double-observer data (two rows per object) under point independence: seen
# by at least one observer with p.(0) g(x), the history from independent
# logistic conditional probabilities.
sim.double <- function(N = 500, w = 50, sigma = 20, a = c(0.8, 0.4), b = -0.04, seed = 2) {
  set.seed(seed)
  x <- runif(N, 0, w)
  sex <- sample(c("F", "M"), N, replace = TRUE)
  p1 <- plogis(a[1] + b * x); p2 <- plogis(a[2] + b * x)
  pd <- 1 - (1 - p1) * (1 - p2)
  pd0 <- 1 - (1 - plogis(a[1])) * (1 - plogis(a[2]))
  seen <- runif(N) < pd0 * exp(-x^2 / (2 * sigma^2))
  u <- runif(N)
  h10 <- p1 * (1 - p2) / pd; h01 <- (1 - p1) * p2 / pd
  d1 <- as.numeric(u < h10 | u >= h10 + h01)
  d2 <- as.numeric(u >= h10)
  x <- x[seen]; d1 <- d1[seen]; d2 <- d2[seen]; sex <- sex[seen]
  n <- length(x)
  data.frame(object = rep(seq_len(n), each = 2), observer = rep(1:2, n),
             detected = as.vector(rbind(d1, d2)), distance = rep(x, each = 2),
             sex = factor(rep(sex, each = 2)), size = rep(1 + seq_len(n) %% 4, each = 2))
}

# One row per object of double-observer data, with the two detections.
per.object <- function(d) {
  o1 <- d[d$observer == 1, ]
  o2 <- d[d$observer == 2, ]
  data.frame(object = o1$object, distance = o1$distance, sex = o1$sex, size = o1$size,
             d1 = o1$detected, d2 = o2$detected[match(o1$object, o2$object)])
}

# The data with the distance interval of each row for the cutpoints cuts.
bin <- function(d, cuts) {
  r <- create.interval.data(d$distance, cuts, max(cuts))
  cbind(d, data.frame(distbegin = r$distbegin, distend = r$distend))
}

# A fit with the given key without covariates and a logit mr model of
# formula mr, truncated at 50 (further meta data in ...).
fit <- function(data, method = "io", mr = ~distance, key = "hn", ...) {
  ddf(method = method, dsmodel = ~cds(key = key, formula = ~1), mrmodel = ~glm(link = "logit", formula = mr),
      data = data, meta.data = list(width = 50, ...))
}

# For the half-normal of a fit: mu, its integral over [0, w], and the
# derivative of mu in log sigma, mu - w g(w).
hn.mu <- function(m, w = 50) {
  s <- exp(m$ds$par[[1]])
  mu <- s * sqrt(2 * pi) * (pnorm(w / s) - 0.5)
  c(mu = mu, dmu = mu - w * exp(-w^2 / (2 * s^2)))
}

# A tiny survey worked out by hand (test-dht.R): region A, area 10 km2, samples a1 (2 km, one
# object of size 2) and a2 (3 km, sizes 1, 1, 3), covered area 2 * 0.05 km * 5 km = 0.5 km2;
# region B, area 20 km2, samples b1 (1 km, sizes 2, 2), b2 (1 km, none) and b3 (2 km, sizes
# 1, 5), covered area 0.4 km2. With the uniform key p = 1.
tiny <- list(
  ddf = data.frame(object = 1:8, observer = 1, detected = 1,
                   distance = c(5, 10, 15, 20, 25, 30, 35, 40), size = c(2, 1, 1, 3, 2, 2, 1, 5)),
  region = data.frame(Region.Label = c("A", "B"), Area = c(10, 20)),
  sample = data.frame(Sample.Label = c("a1", "a2", "b1", "b2", "b3"),
                      Region.Label = c("A", "A", "B", "B", "B"), Effort = c(2, 3, 1, 1, 2)),
  obs = data.frame(object = 1:8, Region.Label = rep(c("A", "B"), each = 4),
                   Sample.Label = c("a1", "a2", "a2", "a2", "b1", "b1", "b3", "b3")))

run.dht <- function(varflag = 1, region = tiny$region, sample = tiny$sample, obs = tiny$obs) {
  dht(fit(tiny$ddf, "ds", key = "unif"), region, sample, obs, se = TRUE,
      options = list(varflag = varflag, convert.units = 0.001))
}

# The support functions, sourced into their own environment.
support.env <- function() {
  f <- Sys.getenv("QUOX_SUPPORT_FILE")
  if (!nzchar(f)) f <- file.path("..", "..", "..", "support", "quox_support.R")
  if (!file.exists(f)) return(NULL)
  e <- new.env()
  sys.source(f, envir = e)
  e
}

# The value of expr, with whatever it draws going to a null device of its
# own that is closed afterwards.
on.device <- function(expr) {
  grDevices::pdf(NULL)
  dev <- grDevices::dev.cur()
  on.exit(grDevices::dev.off(dev))
  expr
}

# The rows of the tab-separated case table f of the folder cases/, as text.
read.cases <- function(f) read.delim(file.path("cases", f), quote = "", comment.char = "", colClasses = "character")

# The lines of a case-table cell, written with \n between them.
cell.lines <- function(x) strsplit(x, "\\n", fixed = TRUE)[[1]]

# The value of expr with options(quox.units = units) in force.
with.units <- function(units, expr) {
  old <- options(quox.units = units)
  on.exit(options(old))
  expr
}

# The texts (titles, axis labels) of the last page that expr draws, on a
# null device of its own.
drawn.texts <- function(expr) {
  on.device({
    grDevices::dev.control("enable")
    expr
    page <- grDevices::recordPlot()[[1]]
  })
  unlist(lapply(page, function(e) Filter(is.character, as.list(e[[2]]))), use.names = FALSE)
}
