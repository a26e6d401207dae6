# Time of one detection-function fit for a typical survey: 300 objects seen by
# two observers, covariates sex and cluster size. Reports the median user +
# system CPU time and the median elapsed time of 20 fits per model.
#
#   Rscript r/sim/bench.R                # package source tree next to this script
#   Rscript r/sim/bench.R --installed    # the installed package quox (byte-compiled)

args <- commandArgs(trailingOnly = TRUE)
if ("--installed" %in% args) {
  suppressPackageStartupMessages(library(quox))
} else {
  file.arg <- grep("^--file=", commandArgs(FALSE), value = TRUE)
  here <- if (length(file.arg)) dirname(normalizePath(sub("^--file=", "", file.arg[1]))) else "r/sim"
  for (f in sort(list.files(file.path(here, "..", "quox", "R"), pattern = "\\.R$", full.names = TRUE))) {
    sys.source(f, envir = globalenv())
  }
}

# point independence: seen by either observer with p.(0) g(x), g half-normal
# (sigma 20 m, 25 m for males), histories from logistic conditional
# probabilities; the first 300 detected objects
set.seed(5)
N <- 1200
x <- runif(N, 0, 50)
sex <- sample(c("F", "M"), N, replace = TRUE)
size <- 1 + rpois(N, 1.5)
p1 <- plogis(1 - 0.04 * x); p2 <- plogis(0.5 - 0.04 * x)
pd <- 1 - (1 - p1) * (1 - p2)
pd0 <- 1 - (1 - plogis(1)) * (1 - plogis(0.5))
seen <- which(runif(N) < pd0 * exp(-x^2 / (2 * ifelse(sex == "M", 25, 20)^2)))[1:300]
u <- runif(N)
d1 <- as.numeric(u < p1 * (1 - p2) / pd | u >= 1 - p1 * p2 / pd)
d2 <- as.numeric(u >= p1 * (1 - p2) / pd)
x <- x[seen]; sex <- sex[seen]; size <- size[seen]; d1 <- d1[seen]; d2 <- d2[seen]
n <- length(seen)
data <- data.frame(object = rep(seq_len(n), each = 2), observer = rep(1:2, n),
                   detected = as.vector(rbind(d1, d2)), distance = rep(x, each = 2),
                   sex = factor(rep(sex, each = 2)), size = rep(size, each = 2))
cont <- data
cont$size <- rep(runif(n, 1, 5), each = 2)

# each model: the method, the ds key (none for full independence) and the data
mr <- ~glm(link = "logit", formula = ~distance + sex + size)
fit <- function(method, key, data) {
  ds <- if (!is.null(key)) eval(bquote(~mcds(key = .(key), formula = ~sex + size)))
  function() ddf(method = method, dsmodel = ds, mrmodel = mr, data = data, meta.data = list(width = 50))
}
models <- list(
  "io, hn ~sex+size, mr ~distance+sex+size" = fit("io", "hn", data),
  "io, hr ~sex+size, mr ~distance+sex+size" = fit("io", "hr", data),
  "io, hr, size continuous" = fit("io", "hr", cont),
  "trial, hn ~sex+size, mr ~distance+sex+size" = fit("trial", "hn", data),
  "io.fi, mr ~distance+sex+size" = fit("io.fi", NULL, data))

for (nm in names(models)) {
  models[[nm]]()  # warm-up
  t <- replicate(20, system.time(models[[nm]]()))
  cat(sprintf("%-45s cpu %.3f s  elapsed %.3f s\n", nm,
              median(t["user.self", ] + t["sys.self", ]), median(t["elapsed", ])))
}
