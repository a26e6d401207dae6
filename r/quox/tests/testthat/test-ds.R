# The ds part against direct numerical maximisation of likelihoods written
# out here with dnorm/pnorm and integrate(), independently of the package.

hn.lik <- function(d, left, width, binned = FALSE, cov = FALSE) {
  function(par) {
    s <- if (cov) exp(par[1] + par[2] * (d$sex == "M")) else rep(exp(par[1]), nrow(d))
    den <- pnorm(width, 0, s) - pnorm(left, 0, s)
    if (binned) {
      -sum(log((pnorm(d$distend, 0, s) - pnorm(d$distbegin, 0, s)) / den))
    } else {
      -sum(dnorm(d$distance, 0, s, log = TRUE) - log(den))
    }
  }
}

hr.lik <- function(d, left, width, binned = FALSE) {
  g <- function(x, s, b) 1 - exp(-(x / s)^(-b))
  function(par) {
    s <- exp(par[1]); b <- exp(par[2])
    mu <- integrate(g, left, width, s = s, b = b, rel.tol = 1e-12)$value
    if (binned) {
      num <- mapply(function(a, e) integrate(g, a, e, s = s, b = b, rel.tol = 1e-12)$value,
                    d$distbegin, d$distend)
      -sum(log(num / mu))
    } else {
      -sum(log(g(d$distance, s, b) / mu))
    }
  }
}

cases <- list(
  list(name = "half-normal, exact, left truncation", key = "hn", data = sim.single(150, seed = 3),
       meta = list(width = 45, left = 2), formula = ~1, start = log(20),
       lik = function(d) hn.lik(d[d$distance >= 2 & d$distance <= 45, ], 2, 45)),
  list(name = "half-normal, binned", key = "hn",
       data = bin(sim.single(150, seed = 4), c(0, 5, 10, 20, 30, 50)),
       meta = list(width = 50, left = 0, binned = TRUE), formula = ~1, start = log(20),
       lik = function(d) hn.lik(d, 0, 50, binned = TRUE)),
  list(name = "half-normal with a factor covariate", key = "hn",
       data = sim.single(200, sex.effect = 0.4, seed = 5),
       meta = list(width = 50, left = 0), formula = ~sex, start = c(log(20), 0),
       lik = function(d) hn.lik(d, 0, 50, cov = TRUE)),
  list(name = "hazard-rate, exact", key = "hr", data = sim.single(200, key = "hr", sigma = 15, seed = 6),
       meta = list(width = 50, left = 0), formula = ~1, start = c(log(15), log(3)),
       lik = function(d) hr.lik(d, 0, 50)),
  list(name = "hazard-rate, binned", key = "hr",
       data = bin(sim.single(120, key = "hr", sigma = 15, seed = 7), c(0, 10, 20, 30, 40, 50)),
       meta = list(width = 50, left = 0, binned = TRUE), formula = ~1, start = c(log(15), log(3)),
       lik = function(d) hr.lik(d, 0, 50, binned = TRUE)))

for (cs in cases) {
  test_that(paste("ds fit equals direct maximisation:", cs$name), {
    m <- ddf(method = "ds", dsmodel = eval(bquote(~mcds(key = .(cs$key), formula = .(cs$formula)))),
             data = cs$data, meta.data = cs$meta)
    nll <- cs$lik(cs$data)
    o <- if (length(cs$start) == 1L) {
      r <- optimize(nll, cs$start + c(-2, 2), tol = 1e-10)
      list(par = r$minimum, value = r$objective)
    } else {
      optim(cs$start, nll, control = list(reltol = 1e-14, maxit = 5000))
    }
    h <- optimHess(o$par, nll)
    expect_equal(unname(m$ds$par), o$par, tolerance = 1e-4)
    expect_equal(m$lnl, -o$value, tolerance = 1e-7)
    expect_equal(unname(sqrt(diag(m$vcov))), sqrt(diag(solve(h))), tolerance = 1e-3)
    expect_equal(m$AIC, 2 * o$value + 2 * length(o$par), tolerance = 1e-7)
  })
}

test_that("the uniform key has no parameters and p = 1", {
  d <- sim.single(50, seed = 8)
  m <- ddf(method = "ds", dsmodel = ~cds(key = "unif", formula = ~1), data = d,
           meta.data = list(width = 50))
  expect_equal(m$npar, 0L)
  expect_equal(unname(m$fitted), rep(1, 50))
  expect_equal(m$lnl, -50 * log(50))
})

test_that("single-observer data without a detected column are all detections", {
  d <- sim.single(80, seed = 9)[, c("object", "distance")]
  m <- ddf(method = "ds", dsmodel = ~cds(key = "hn", formula = ~1), data = d,
           meta.data = list(width = 50))
  expect_equal(m$n, 80L)
})

test_that("the same data give the same fit every time", {
  d <- sim.double(seed = 10)
  fit <- function() ddf(method = "io", dsmodel = ~mcds(key = "hr", formula = ~sex),
                        mrmodel = ~glm(link = "logit", formula = ~distance + observer),
                        data = d, meta.data = list(width = 50))
  a <- fit(); b <- fit()
  expect_identical(a$par, b$par)
  expect_identical(a$vcov, b$vcov)
  expect_identical(a$fitted, b$fitted)
})

# The half-normal integral over [a, b] against integrate(), and against its
# series (b - a) - (b^3 - a^3) / (6 sigma^2) where sigma dwarfs the limits
# (pnorm(u) - 1/2 cancels to 0 there and once gave a wide half-normal a
# likelihood above the maximum).
hn.integral.cases <- list(
  list(a = 0, b = 50, log.s = log(20)), list(a = 2, b = 45, log.s = log(8)),
  list(a = 30, b = 50, log.s = log(3)), list(a = 0, b = 50, log.s = 12),
  list(a = 0, b = 50, log.s = 25), list(a = 10, b = 20, log.s = 40))
for (cs in hn.integral.cases) {
  test_that(sprintf("half-normal integral over [%g, %g] with log sigma %.3g", cs$a, cs$b, cs$log.s), {
    s <- exp(cs$log.s)
    want <- if (s > 1e4) (cs$b - cs$a) - (cs$b^3 - cs$a^3) / (6 * s^2) else
      integrate(function(x) exp(-x^2 / (2 * s^2)), cs$a, cs$b, rel.tol = 1e-13)$value
    expect_equal(key.integral("hn", cs$a, cs$b, s, NA)$v, want, tolerance = 1e-10)
  })
}

test_that("a very wide half-normal has the likelihood of the uniform, below the maximum", {
  d <- sim.single(300, seed = 8)
  m <- ddf(method = "ds", dsmodel = ~cds(key = "hn", formula = ~1), data = d, meta.data = list(width = 50))
  wide <- ds.loglik(40, m$ds$setup)$value
  expect_equal(wide, -300 * log(50), tolerance = 1e-10)
  expect_lt(wide, m$lnl)
})

test_that("progress of the fit goes out as messages, none as printed output", {
  d1 <- sim.single(100, seed = 3)
  out <- capture.output(msgs <- capture_messages(
    ddf(method = "ds", dsmodel = ~cds(key = "hn", formula = ~1), control = list(showit = 2), data = d1,
        meta.data = list(width = 50))))
  expect_equal(out, character(0))
  expect_true("Fitting method ds to 100 objects\n" %in% msgs)
  expect_true(any(grepl("log-likelihood", msgs)))
})
