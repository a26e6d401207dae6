# dht() on the tiny survey of helper-data.R, worked out by hand. With the
# uniform key p = 1, so every abundance is (Area / covered area) * count.

r <- run.dht(1)

test_that("abundance, density, cluster size and Satterthwaite df by region and in total", {
  expect_equal(r$clusters$N$Estimate, c(80, 200, 280))
  expect_equal(r$clusters$D$Estimate, c(8, 10, 280 / 30))
  expect_equal(r$individuals$N$Estimate, c(140, 500, 640))
  expect_equal(r$Expected.S$Expected.S, c(7 / 4, 10 / 4, 17 / 8))
  expect_equal(r$regions$covered, c(0.5, 0.4))             # b2, without detections, counts
  expect_equal(r$bysample$n, c(1, 3, 2, 0, 2))
  expect_equal(r$clusters$N$Label, c("A", "B", "Total"))
  expect_equal(r$clusters$N$df[3], (576 + 7500)^2 / (576^2 / 1 + 7500^2 / 2))
  # individuals use the summed sizes per sample: A, n_k = (2, 5), n/L = 1.4,
  # var(n/L) = 2/25 * 1.28 = 0.1024, var N = 140^2 * 0.1024 / 1.96 = 1024
  expect_equal(r$individuals$N$se[1], 32)
})

# Encounter-rate variances by hand:
#  varflag 1, A: n/L = 0.8, var(n/L) = 2/(25*1) * (4*(0.5-0.8)^2 + 9*(1-0.8)^2) = 0.0576,
#    cv^2 = 0.09, var N = 576; B: n/L = 1, var = 3/(16*2) * 2 = 0.1875, var N = 7500.
#  varflag 0, pi = a/A: A 0.05 -> 4 * 0.95 / 0.05^2 = 1520; B 0.02 -> 4 * 0.98 / 0.02^2 = 9800.
variance.cases <- list(
  list(varflag = 1, var = c(576, 7500), df = c(1, 2)),
  list(varflag = 2, var = c(576, 7500), df = c(1, 2)),
  list(varflag = 0, var = c(1520, 9800), df = c(Inf, Inf)))

for (cs in variance.cases) {
  test_that(paste("encounter-rate variance, varflag", cs$varflag), {
    r <- run.dht(cs$varflag)
    n <- r$clusters$N
    expect_equal(n$se, sqrt(c(cs$var, sum(cs$var))))
    expect_equal(n$cv[1:2], sqrt(cs$var) / c(80, 200))
    expect_equal(n$df[1:2], cs$df)
    c.fac <- exp(ifelse(is.finite(cs$df), qt(0.975, cs$df), qnorm(0.975)) * sqrt(log(1 + n$cv[1:2]^2)))
    expect_equal(n$lcl[1:2], c(80, 200) / c.fac)
    expect_equal(n$ucl[1:2], c(80, 200) * c.fac)
    expect_equal(r$clusters$D$se[1:2], sqrt(cs$var) / c(10, 20))
  })
}

test_that("a region without area reports the covered region", {
  r <- run.dht(1, region = data.frame(Region.Label = c("A", "B"), Area = c(10, 0)))
  expect_equal(r$clusters$N$Estimate[1:2], c(80, 4))
  expect_equal(r$clusters$D$Estimate[2], 10)
})

test_that("labels read as numbers in one table and as text in another still match", {
  region <- data.frame(Region.Label = c("1.", "2. B"), Area = c(10, 20))
  sample <- data.frame(Sample.Label = 1:5, Region.Label = rep(c("1.", "2. B"), c(2, 3)), Effort = c(2, 3, 1, 1, 2))
  obs <- data.frame(object = 1:8, Region.Label = rep(c(1, "2. B"), each = 4),
                    Sample.Label = c("1.", "2.", "2.", "2.", "3.", "3.", "5.", "5."))
  expect_equal(run.dht(1, region, sample, obs)$clusters$N$Estimate, c(80, 200, 280))
})

test_that("detection-function variance by the delta method", {
  d <- sim.single(100, seed = 31)
  d$size <- NULL
  m <- fit(d, "ds")
  obs <- data.frame(object = d$object, Region.Label = "R", Sample.Label = rep(c("s1", "s2", "s3", "s4"), 25))
  sample <- data.frame(Sample.Label = c("s1", "s2", "s3", "s4"), Region.Label = "R", Effort = c(1, 2, 3, 4))
  r <- dht(m, data.frame(Region.Label = "R", Area = 100), sample, obs,
           options = list(varflag = 1, convert.units = 0.001))
  mu <- hn.mu(m)
  n.hat <- 100 / (2 * 50 * 10 * 0.001) * 100 * 50 / mu[["mu"]]
  dn <- -n.hat * mu[["dmu"]] / mu[["mu"]]
  expect_equal(r$clusters$N$Estimate[1], n.hat, tolerance = 1e-10)
  expect_equal(r$clusters$vcov.det[1, 1], dn^2 * m$vcov[1, 1], tolerance = 1e-6)
  expect_equal(r$clusters$N$se[1]^2, r$clusters$var.enc + dn^2 * m$vcov[1, 1], tolerance = 1e-6)
  expect_null(r$individuals)
})

test_that("print names the units and shows every requested table", {
  out <- capture.output(print(r, cor = TRUE, bysample = TRUE, vcmatrices = TRUE))
  expect_true(any(grepl("^Units: distances in the units of the distance column", out)))
  for (title in c("Abundance (clusters)", "Density (individuals per unit of area)", "Expected cluster size",
                  "Estimates by sample", "Variance-covariance", "Correlation")) {
    expect_true(any(grepl(title, out, fixed = TRUE)), info = title)
  }
  expect_false(any(grepl("Correlation|Estimates by sample|Variance-covariance", capture.output(print(r)))))
})

test_that("a covered area beyond the region's area and distances far inside the width are warned of", {
  expect_warning(run.dht(1, region = data.frame(Region.Label = c("A", "B"), Area = c(0.2, 20))),
                 "covered area of region 'A' \\(2 x width x effort = 0.5\\) is larger than its area \\(0.2\\)")
  km <- transform(tiny$ddf, distance = distance / 1000)
  expect_warning(fit(km, "ds", key = "unif"), "every distance is under a hundredth of the truncation width \\(50\\)")
})

units <- read.cases("units.tsv")
m.tiny <- fit(tiny$ddf, "ds", key = "unif")
for (i in seq_len(nrow(units))) {
  test_that(paste("print names the units:", units$case[i]), {
    opt <- list(varflag = 1, convert.units = 0.001, units = eval(parse(text = units$units[i])))
    res <- with.units(eval(parse(text = units$option[i])),
                      dht(m.tiny, tiny$region, tiny$sample, tiny$obs, options = opt))
    out <- capture.output(print(res))
    for (l in cell.lines(units$lines[i])) expect_true(l %in% out, info = l)
  })
}
