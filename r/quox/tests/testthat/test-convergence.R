# Whether a fit reached its maximum is judged by the distance that remains,
# in standard errors, so that it means the same for any number of objects.

num <- function(x) as.numeric(strsplit(x, " ", fixed = TRUE)[[1]])
conv <- read.cases("convergence.tsv")
for (i in seq_len(nrow(conv))) {
  cs <- conv[i, ]
  test_that(paste("convergence check:", cs$case), {
    g <- num(cs$gradient)
    run <- function() convergence.check(g, diag(num(cs$hessian), length(g)), as.integer(cs$code), "the mr model")
    if (cs$signal == "error") return(expect_error(run(), cs$message, fixed = TRUE))
    if (cs$signal == "warning") expect_warning(r <- run(), cs$message, fixed = TRUE) else expect_silent(r <- run())
    expect_identical(r$converged, as.logical(cs$converged))
  })
}

# Fits: stopped after one iteration they warn; a large one (26,112
# objects) run to its end does not.
big <- sim.double(N = 60000, seed = 5)
fits <- list(
  list(name = "io stopped early", method = "io", data = sim.double(N = 400, seed = 3), maxit = 3L, warns = TRUE),
  list(name = "ds stopped early", method = "ds", data = sim.single(n = 300, seed = 4), maxit = 1L, warns = TRUE),
  list(name = "large io", method = "io", data = big, maxit = 2000L, warns = FALSE))
for (f in fits) {
  test_that(paste("fit:", f$name), {
    mr <- if (f$method == "io") ~glm(link = "logit", formula = ~distance)
    call <- function() ddf(method = f$method, dsmodel = ~cds(key = "hn", formula = ~1), mrmodel = mr,
                           control = list(maxit = f$maxit), data = f$data, meta.data = list(width = 50))
    if (f$warns) return(expect_warning(call(), "may not have converged (optimiser code 1", fixed = TRUE))
    expect_silent(m <- call())
    expect_true(m$ds$converged && m$mr$converged)
  })
}
