# The ds part against direct numerical maximisation of likelihoods written
# out here with dnorm/pnorm and integrate(), independently of the package.

# The negative log-likelihood of the distances (intervals where binned) in
# [left, width] under the key, sigma depending on sex where cov.
lik <- function(d, key, left, width, binned, cov) {
  d <- d[d$distance >= left & d$distance <= width, ]
  g <- function(x, s, b) 1 - exp(-(x / s)^(-b))
  function(par) {
    if (key == "hn") {
      s <- exp(par[1] + if (cov) par[2] * (d$sex == "M") else 0)
      num <- if (binned) pnorm(d$distend, 0, s) - pnorm(d$distbegin, 0, s) else dnorm(d$distance, 0, s)
      return(-sum(log(num / (pnorm(width, 0, s) - pnorm(left, 0, s)))))
    }
    int <- function(a, e) integrate(g, a, e, s = exp(par[1]), b = exp(par[2]), rel.tol = 1e-12)$value
    num <- if (binned) mapply(int, d$distbegin, d$distend) else g(d$distance, exp(par[1]), exp(par[2]))
    -sum(log(num / int(left, width)))
  }
}

cases <- data.frame(key = c("hn", "hn", "hn", "hr", "hr"), n = c(150, 150, 200, 200, 120), sigma = c(20, 20, 20, 15, 15),
                    sex.effect = c(0, 0, 0.4, 0, 0), seed = 3:7, left = c(2, 0, 0, 0, 0), width = c(45, 50, 50, 50, 50),
                    cuts = c("", "0 5 10 20 30 50", "", "", "0 10 20 30 40 50"))

for (i in seq_len(nrow(cases))) {
  cs <- cases[i, ]
  cov <- cs$sex.effect != 0
  binned <- nzchar(cs$cuts)
  test_that(sprintf("ds fit equals direct maximisation: %s, left %g, cutpoints '%s'%s", cs$key, cs$left, cs$cuts,
                    if (cov) ", a factor covariate" else ""), {
    d <- sim.single(cs$n, key = cs$key, sigma = cs$sigma, sex.effect = cs$sex.effect, seed = cs$seed)
    if (binned) d <- bin(d, scan(text = cs$cuts, quiet = TRUE))
    m <- ddf(method = "ds", dsmodel = ~mcds(key = cs$key, formula = if (cov) ~sex else ~1), data = d,
             meta.data = list(width = cs$width, left = cs$left, binned = binned))
    nll <- lik(d, cs$key, cs$left, cs$width, binned, cov)
    start <- c(log(cs$sigma), if (cov) 0, if (cs$key == "hr") log(3))
    o <- if (length(start) == 1L) {
      r <- optimize(nll, start + c(-2, 2), tol = 1e-10)
      list(par = r$minimum, value = r$objective)
    } else {
      optim(start, nll, control = list(reltol = 1e-14, maxit = 5000))
    }
    expect_equal(unname(m$ds$par), o$par, tolerance = 1e-4)
    expect_equal(m$lnl, -o$value, tolerance = 1e-7)
    expect_equal(unname(sqrt(diag(m$vcov))), sqrt(diag(solve(optimHess(o$par, nll)))), tolerance = 1e-3)
    expect_equal(m$AIC, 2 * o$value + 2 * length(o$par), tolerance = 1e-7)
  })
}

test_that("the uniform key has no parameters and p = 1", {
  m <- fit(sim.single(50, seed = 8), "ds", key = "unif")
  expect_equal(list(m$npar, unname(m$fitted), m$lnl), list(0L, rep(1, 50), -50 * log(50)))
})

test_that("the same data give the same fit every time", {
  d <- sim.double(seed = 10)
  again <- function() ddf(method = "io", dsmodel = ~mcds(key = "hr", formula = ~sex),
                          mrmodel = ~glm(link = "logit", formula = ~distance + observer),
                          data = d, meta.data = list(width = 50))[c("par", "vcov", "fitted")]
  expect_identical(again(), again())
})

# The half-normal integral over [a, b] against integrate(), and against its
# series (b - a) - (b^3 - a^3) / (6 sigma^2) where sigma dwarfs the limits
# (pnorm(u) - 1/2 cancels to 0 there and once gave a wide half-normal a
# likelihood above the maximum).
hn.integral.cases <- data.frame(a = c(0, 2, 30, 0, 0, 10), b = c(50, 45, 50, 50, 50, 20),
                                log.s = c(log(20), log(8), log(3), 12, 25, 40))
for (i in seq_len(nrow(hn.integral.cases))) {
  cs <- hn.integral.cases[i, ]
  test_that(sprintf("half-normal integral over [%g, %g] with log sigma %.3g", cs$a, cs$b, cs$log.s), {
    s <- exp(cs$log.s)
    want <- if (s > 1e4) (cs$b - cs$a) - (cs$b^3 - cs$a^3) / (6 * s^2) else
      integrate(function(x) exp(-x^2 / (2 * s^2)), cs$a, cs$b, rel.tol = 1e-13)$value
    expect_equal(key.integral("hn", cs$a, cs$b, s, NA)$v, want, tolerance = 1e-10)
  })
}

test_that("a very wide half-normal has the likelihood of the uniform, below the maximum", {
  m <- fit(sim.single(300, seed = 8), "ds")
  wide <- ds.loglik(40, m$ds$setup)$value
  expect_equal(wide, -300 * log(50), tolerance = 1e-10)
  expect_lt(wide, m$lnl)
})

test_that("progress of the fit goes out as messages, none as printed output", {
  d <- sim.single(100, seed = 3)
  out <- capture.output(msgs <- capture_messages(ddf(dsmodel = ~cds(), control = list(showit = 2), data = d)))
  expect_equal(out, character(0))
  expect_true("Fitting method ds to 100 objects\n" %in% msgs)
  expect_true(any(grepl("log-likelihood", msgs)))
})
