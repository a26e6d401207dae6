# Detection probabilities and abundance in the covered region, worked out
# here from the fitted parameters by the textbook formulas.

test_that("ds half-normal: p, N in the covered region and its se by hand", {
  m <- fit(sim.single(120, seed = 21), "ds")
  mu <- hn.mu(m)
  p <- mu[["mu"]] / 50
  expect_equal(unname(m$fitted), rep(p, 120), tolerance = 1e-10)
  expect_equal(m$Nhat, 120 / p, tolerance = 1e-10)
  expect_equal(m$average.p, p, tolerance = 1e-10)
  # N = n W / mu(sigma)
  var.det <- (m$Nhat * mu[["dmu"]] / mu[["mu"]])^2 * m$vcov[1, 1]
  expect_equal(m$Nhat.se, sqrt(var.det + 120 * (1 - p) / p^2), tolerance = 1e-6)
  expect_equal(m$average.p.se, p * sqrt(var.det) / m$Nhat, tolerance = 1e-6)
})

d2 <- sim.double(N = 600, seed = 22)
o2 <- per.object(d2)

test_that("io: p_i = p.(0) mu / W with p.(0) from both observers' conditional probabilities", {
  m <- fit(d2, mr = ~distance + observer)
  b <- unname(m$mr$par)
  p0 <- 1 - (1 - plogis(b[1])) * (1 - plogis(b[1] + b[3]))
  expect_equal(unname(m$fitted), rep(p0 * hn.mu(m)[["mu"]] / 50, nrow(o2)), tolerance = 1e-10)
  expect_equal(m$average.p0, p0, tolerance = 1e-10)
  expect_equal(c(m$n, m$n1, m$n2, m$n12), c(nrow(o2), sum(o2$d1), sum(o2$d2), sum(o2$d1 * o2$d2)))
  expect_equal(m$p.cond$p1, plogis(b[1] + b[2] * o2$distance), tolerance = 1e-12)
  expect_equal(m$p.cond$p2, plogis(b[1] + b[2] * o2$distance + b[3]), tolerance = 1e-12)
  expect_equal(m$size, o2$size)
})

fi.cases <- list(
  list(method = "io.fi", f = ~distance + observer, objects = function(o) rep(TRUE, nrow(o)),
       pdot = function(b, x) 1 - (1 - plogis(b[1] + b[2] * x)) * (1 - plogis(b[1] + b[2] * x + b[3]))),
  list(method = "trial.fi", f = ~distance, objects = function(o) o$d1 == 1,
       pdot = function(b, x) plogis(b[1] + b[2] * x)),
  list(method = "rem.fi", f = ~distance, objects = function(o) rep(TRUE, nrow(o)),
       pdot = function(b, x) 1 - (1 - plogis(b[1] + b[2] * x))^2))

for (cs in fi.cases) {
  test_that(paste(cs$method, ": p is the mean over the strip of the combined detection probability"), {
    m <- fit(d2, cs$method, mr = cs$f, left = 1)     # full independence: no ds part
    b <- unname(m$mr$par)
    p <- integrate(function(x) cs$pdot(b, x), 1, 50, rel.tol = 1e-12)$value / 49
    keep <- cs$objects(o2[o2$distance >= 1, ])
    expect_equal(unname(m$fitted), rep(p, sum(keep)), tolerance = 1e-9)
    expect_null(m$ds)
  })
}

test_that("trial uses observer 1's detections for abundance and p1(0) on the line", {
  m <- fit(d2, "trial")
  p <- plogis(m$mr$par[[1]]) * hn.mu(m)[["mu"]] / 50
  expect_equal(m$Nhat, sum(o2$d1) / p, tolerance = 1e-10)
  expect_equal(names(m$fitted), as.character(o2$object[o2$d1 == 1]))
})

test_that("trial without covariates is Lincoln-Petersen, with its variance", {
  m <- fit(d2, "trial", mr = ~1, key = "unif")
  n1 <- sum(o2$d1); n2 <- sum(o2$d2); n12 <- sum(o2$d1 * o2$d2)
  n.lp <- n1 * n2 / n12
  p <- n12 / n2; q <- n2 / n.lp
  expect_equal(m$Nhat, n.lp, tolerance = 1e-8)
  # binomial part + detection part + twice their covariance
  expect_equal(m$Nhat.se^2, n.lp * (1 - p) * (1 - q) / (p * q), tolerance = 1e-6)
})
