# Goodness of fit and plots.

test_that("Cramer-von Mises distribution function at tabulated quantiles", {
  # upper percentage points of the asymptotic distribution (Anderson and Darling 1952)
  expect_equal(pcvm(c(0.34730, 0.46136, 0.58061, 0.74346)), c(0.90, 0.95, 0.975, 0.99), tolerance = 1e-4)
  expect_equal(pcvm(c(0, Inf)), c(0, 1))
})

test_that("uniform key: chi-square and Cramer-von Mises by hand", {
  d <- sim.single(60, seed = 51)
  g <- on.device(ddf.gof(fit(d, "ds", key = "unif"), breaks = c(0, 10, 25, 50)))
  expected <- 60 * c(10, 15, 25) / 50
  observed <- as.vector(table(cut(d$distance, c(0, 10, 25, 50), include.lowest = TRUE)))
  expect_equal(g$ds$table$expected, expected)
  expect_equal(g$ds$table$observed, observed)
  expect_equal(g$ds$chisq, sum((observed - expected)^2 / expected))
  expect_equal(g$ds$df, 2)
  w <- 1 / 720 + sum((sort(d$distance / 50) - (2 * (1:60) - 1) / 120)^2)
  expect_equal(g$cvm$W, w)
  expect_equal(g$cvm$p, 1 - pcvm(w))
})

d <- sim.double(N = 500, seed = 52)

test_that("double-observer chi-square tables add up to the observed counts", {
  m <- fit(d)
  g <- on.device(ddf.gof(m))
  before <- dev.cur()
  expect_equal(unclass(gof.tests(m)), unclass(g))    # the same tests, computed without drawing
  expect_equal(dev.cur(), before)
  expect_equal(sum(g$ds$table$expected), m$n, tolerance = 1e-8)
  expect_equal(rowSums(g$mr$expected), rowSums(g$mr$observed), tolerance = 1e-8)
  nb <- nrow(g$ds$table)
  expect_equal(g$total$df, (nb - 1) + nb * 2 - m$npar)
  expect_equal(g$total$chisq, g$ds$chisq + g$mr$chisq)
  out <- capture.output(print(g))
  expect_true(any(grepl("Total chi-square", out)))
  expect_false(any(grepl("error", out, ignore.case = TRUE)))
})

test_that("binned data: the given breaks, no Q-Q plot and no device opened", {
  m <- fit(bin(d, c(0, 10, 20, 50)), key = "hr", left = 0, binned = TRUE)
  before <- dev.cur()
  g <- ddf.gof(m, breaks = c(0, 10, 20, 50))
  expect_equal(dev.cur(), before)
  expect_null(g$cvm)
  expect_equal(g$ds$table$to, c(10, 20, 50))
  expect_equal(sum(g$ds$table$observed), m$n)
})

test_that("plot draws one page per detection function of the method", {
  pages <- c(ds = 1, io = 6, io.fi = 6, trial = 2, trial.fi = 2, rem = 3, rem.fi = 3)
  for (method in names(pages)) {
    dir.create(dir <- tempfile("plots"))
    png(file.path(dir, "ddf.%02d.png"), width = 200, height = 200)
    plot(fit(d, method), breaks = c(0, 10, 20, 30, 50), maintitle = " ", lwd = 2, lty = 1, pch = 1, cex = 1)
    dev.off()
    expect_equal(length(list.files(dir)), pages[[method]], info = method)
    unlink(dir, recursive = TRUE)
  }
})

titles <- read.cases("titles.tsv")
for (i in seq_len(nrow(titles))) {
  test_that(paste("the title names the model:", titles$case[i]), {
    tc <- titles[i, ]
    m <- fit(d, tc$method, mr = as.formula(tc$mr), key = tc$key)
    texts <- with.units(list(distance = tc$unit), drawn.texts(
      if (tc$page == "qq") ddf.gof(m, main = tc$maintitle) else plot(m, which = as.integer(tc$page), maintitle = tc$maintitle)))
    expect_true(gsub("\\n", "\n", tc$title, fixed = TRUE) %in% texts)
    expect_true(tc$xlab %in% texts)
  })
}
