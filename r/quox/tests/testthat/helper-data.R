# Small simulated data sets shared by the tests. Every generator sets its own
# seed, so the data are the same in every run.

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
