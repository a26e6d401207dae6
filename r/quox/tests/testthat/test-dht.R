# dht() on a tiny survey worked out by hand. With the uniform key p = 1, so
# every abundance is (Area / covered area) * count.
#
# Region A: area 10 km2, samples a1 (2 km, one object of size 2) and a2
#   (3 km, objects of sizes 1, 1, 3); covered area 2 * 0.05 km * 5 km = 0.5 km2.
# Region B: area 20 km2, samples b1 (1 km, sizes 2, 2), b2 (1 km, none),
#   b3 (2 km, sizes 1, 5); covered area 0.4 km2.

tiny <- local({
  obs <- data.frame(object = 1:8, Region.Label = c("A", "A", "A", "A", "B", "B", "B", "B"),
                    Sample.Label = c("a1", "a2", "a2", "a2", "b1", "b1", "b3", "b3"))
  list(
    ddf = data.frame(object = 1:8, observer = 1, detected = 1,
                     distance = c(5, 10, 15, 20, 25, 30, 35, 40), size = c(2, 1, 1, 3, 2, 2, 1, 5)),
    region = data.frame(Region.Label = c("A", "B"), Area = c(10, 20)),
    sample = data.frame(Sample.Label = c("a1", "a2", "b1", "b2", "b3"),
                        Region.Label = c("A", "A", "B", "B", "B"), Effort = c(2, 3, 1, 1, 2)),
    obs = obs)
})

unif.model <- function(dat = tiny$ddf) {
  ddf(method = "ds", dsmodel = ~cds(key = "unif", formula = ~1), data = dat,
      meta.data = list(width = 50))
}

run.dht <- function(varflag, region = tiny$region, sample = tiny$sample, obs = tiny$obs) {
  dht(unif.model(), region, sample, obs, se = TRUE,
      options = list(varflag = varflag, convert.units = 0.001))
}

test_that("abundance and density by region and in total", {
  r <- run.dht(1)
  expect_equal(r$clusters$N$Estimate, c(80, 200, 280))
  expect_equal(r$clusters$D$Estimate, c(8, 10, 280 / 30))
  expect_equal(r$individuals$N$Estimate, c(140, 500, 640))
  expect_equal(r$Expected.S$Expected.S, c(7 / 4, 10 / 4, 17 / 8))
  expect_equal(r$regions$covered, c(0.5, 0.4))
  expect_equal(r$clusters$N$Label, c("A", "B", "Total"))
})

# Encounter-rate variances by hand:
#  varflag 1, A: n/L = 0.8, var(n/L) = 2/(25*1) * (4*(0.5-0.8)^2 + 9*(1-0.8)^2) = 0.0576,
#    cv^2 = 0.09, var N = 576; B: n/L = 1, var = 3/(16*2) * 2 = 0.1875, var N = 7500.
#  varflag 0, pi = a/A: A 0.05 -> 4 * 0.95 / 0.05^2 = 1520; B 0.02 -> 4 * 0.98 / 0.02^2 = 9800.
#  individuals, varflag 1, A: n_k = (2, 5), n/L = 1.4, var = 2/25 * 1.28 = 0.1024,
#    var N = 140^2 * 0.1024 / 1.96 = 1024.
variance.cases <- list(
  list(varflag = 1, var = c(576, 7500), df = c(1, 2)),
  list(varflag = 2, var = c(576, 7500), df = c(1, 2)),
  list(varflag = 0, var = c(1520, 9800), df = c(Inf, Inf)))

for (cs in variance.cases) {
  test_that(paste("encounter-rate variance, varflag", cs$varflag), {
    r <- run.dht(cs$varflag)
    n <- r$clusters$N
    expect_equal(n$se[1:2], sqrt(cs$var))
    expect_equal(n$se[3], sqrt(sum(cs$var)))
    expect_equal(n$cv[1:2], sqrt(cs$var) / c(80, 200))
    expect_equal(n$df[1:2], cs$df)
    q <- ifelse(is.finite(cs$df), qt(0.975, cs$df), qnorm(0.975))
    c.fac <- exp(q * sqrt(log(1 + n$cv[1:2]^2)))
    expect_equal(n$lcl[1:2], c(80, 200) / c.fac)
    expect_equal(n$ucl[1:2], c(80, 200) * c.fac)
    expect_equal(r$clusters$D$se[1:2], sqrt(cs$var) / c(10, 20))
  })
}

test_that("total degrees of freedom by Satterthwaite", {
  n <- run.dht(1)$clusters$N
  expect_equal(n$df[3], (576 + 7500)^2 / (576^2 / 1 + 7500^2 / 2))
})

test_that("individuals use the summed sizes per sample", {
  r <- run.dht(1)
  expect_equal(r$individuals$N$se[1], 32)
})

test_that("a region without area reports the covered region", {
  r <- run.dht(1, region = data.frame(Region.Label = c("A", "B"), Area = c(10, 0)))
  expect_equal(r$clusters$N$Estimate[1:2], c(80, 4))
  expect_equal(r$clusters$D$Estimate[2], 10)
})

test_that("labels read as numbers in one table and as text in another still match", {
  region <- data.frame(Region.Label = c("1.", "2. B"), Area = c(10, 20))
  sample <- data.frame(Sample.Label = c(1, 2, 3, 4, 5), Region.Label = c("1.", "1.", "2. B", "2. B", "2. B"),
                       Effort = c(2, 3, 1, 1, 2))
  obs <- data.frame(object = 1:8, Region.Label = c(1, 1, 1, 1, "2. B", "2. B", "2. B", "2. B"),
                    Sample.Label = c("1.", "2.", "2.", "2.", "3.", "3.", "5.", "5."))
  r <- run.dht(1, region, sample, obs)
  expect_equal(r$clusters$N$Estimate, c(80, 200, 280))
})

test_that("detection-function variance by the delta method", {
  d <- sim.single(100, seed = 31)
  d$size <- NULL
  m <- ddf(method = "ds", dsmodel = ~cds(key = "hn", formula = ~1), data = d, meta.data = list(width = 50))
  obs <- data.frame(object = d$object, Region.Label = "R", Sample.Label = rep(c("s1", "s2", "s3", "s4"), 25))
  sample <- data.frame(Sample.Label = c("s1", "s2", "s3", "s4"), Region.Label = "R", Effort = c(1, 2, 3, 4))
  r <- dht(m, data.frame(Region.Label = "R", Area = 100), sample, obs,
           options = list(varflag = 1, convert.units = 0.001))
  s <- exp(m$ds$par[[1]])
  mu <- s * sqrt(2 * pi) * (pnorm(50 / s) - 0.5)
  n.hat <- 100 / (2 * 50 * 10 * 0.001) * 100 * 50 / mu
  dn <- -n.hat * (mu - 50 * exp(-50^2 / (2 * s^2))) / mu
  expect_equal(r$clusters$N$Estimate[1], n.hat, tolerance = 1e-10)
  expect_equal(r$clusters$vcov.det[1, 1], dn^2 * m$vcov[1, 1], tolerance = 1e-6)
  expect_equal(r$clusters$N$se[1]^2, r$clusters$var.enc + dn^2 * m$vcov[1, 1], tolerance = 1e-6)
  expect_null(r$individuals)
})

test_that("print names the units and shows every requested table", {
  r <- run.dht(1)
  out <- capture.output(print(r, cor = TRUE, bysample = TRUE, vcmatrices = TRUE))
  expect_true(any(grepl("^Units: distances in the units of the distance column", out)))
  for (title in c("Abundance (clusters)", "Density (individuals per unit of area)", "Expected cluster size",
                  "Estimates by sample", "Variance-covariance", "Correlation")) {
    expect_true(any(grepl(title, out, fixed = TRUE)), info = title)
  }
  plain <- capture.output(print(r))
  expect_false(any(grepl("Correlation|Estimates by sample|Variance-covariance", plain)))
})
