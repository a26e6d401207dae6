# The statistics writers (statistics lines of a four-digit code, a tab and
# the value) and the host's support file, whose functions call them under the
# names the command file uses.

d <- sim.double(N = 400, seed = 61)

read.stats <- function(f) {
  l <- readLines(f)
  setNames(as.numeric(sub("^\\d{4}\t", "", l)), substr(l, 1, 4))
}

io.fit <- function() {
  ddf(method = "io", dsmodel = ~cds(key = "hn", formula = ~1),
      mrmodel = ~glm(link = "logit", formula = ~distance), data = d, meta.data = list(width = 50))
}

small.dht <- function() {
  dat <- data.frame(object = 1:6, distance = c(1, 5, 9, 20, 30, 44), size = c(1, 2, 3, 1, 1, 2))
  m <- ddf(method = "ds", dsmodel = ~cds(key = "unif", formula = ~1), data = dat, meta.data = list(width = 50))
  dht(m, data.frame(Region.Label = c("A", "B"), Area = c(10, 20)),
      data.frame(Sample.Label = c("a1", "a2", "b1"), Region.Label = c("A", "A", "B"), Effort = c(2, 3, 4)),
      data.frame(object = 1:6, Region.Label = "A", Sample.Label = c("a1", "a1", "a2", "a2", "a2", "a2")),
      options = list(varflag = 1, convert.units = 0.001))
}

test_that("the statistics of a fit carry the documented codes", {
  m <- io.fit()
  s <- summary(m)
  g <- on.device(ddf.gof(m))
  f <- tempfile()
  on.exit(unlink(f))
  writeLines("old content", f)
  write.stats(f, FALSE, ddf.stats(m, s, g))
  lines <- readLines(f)
  expect_true(all(grepl("^[0-9]{4}\t-?[0-9]+(\\.[0-9]+)?$", lines)))
  v <- read.stats(f)
  expected <- c("0001" = m$n, "0002" = 3, "0003" = m$AIC, "0004" = m$average.p, "0005" = m$average.p.se,
                "0006" = m$Nhat, "0007" = m$Nhat.se, "0010" = 50, "0011" = 0,
                "0012" = m$average.p0, "0018" = m$n1, "0019" = m$n2, "0020" = m$n12,
                "0030" = g$total$chisq, "0031" = g$total$df, "0032" = g$total$p,
                "0039" = g$cvm$W, "0040" = g$cvm$p)
  expect_equal(v[names(expected)], expected, tolerance = 1e-8)
  expect_equal(length(v), 31)
  write.stats(f, TRUE, ddf.stats(m, s))
  expect_equal(length(readLines(f)), 31 + 20)
})

test_that("the statistics of estimates code region, quantity and total; missing values are skipped", {
  r <- small.dht()
  f <- tempfile()
  on.exit(unlink(f))
  write.stats(f, FALSE, dht.stats(r))
  v <- read.stats(f)
  expect_equal(v[["1000"]], 120)                    # total abundance of clusters
  expect_equal(v[["1010"]], 120)                    # region A
  expect_equal(v[["1020"]], 0)                      # region B, no detections
  expect_false("1022" %in% names(v))                # its cv is not a number
  expect_equal(v[["2010"]], 12)                     # density of region A
  expect_equal(v[["3010"]], 20 * 10)                # individuals in region A
  expect_equal(v[["5010"]], 10 / 6)                 # expected cluster size
  expect_equal(unname(v[c("6010", "6011", "6012", "6014", "6015")]), c(6, 2, 5, 10, 0.5))
  expect_equal(v[["1011"]], r$clusters$N$se[1], tolerance = 1e-8)
  expect_false("5021" %in% names(v))
})

test_that("values are written without an exponent and with enough digits", {
  expect_equal(stat.lines(c(3, 7, 8, 9, 12), c(1234567.891, 0.000012345678, NA, Inf, -2.5)),
               c("0003\t1234567.89", "0007\t0.000012345678", "0012\t-2.5"))
})

test_that("the support file writes what the package writes and removes its functions", {
  e <- support.env()
  skip_if(is.null(e), "support file not found")
  m <- io.fit()
  g <- on.device(ddf.gof(m))
  r <- small.dht()
  f1 <- tempfile(); f2 <- tempfile()
  on.exit(unlink(c(f1, f2)))
  e$write.stats.ddf(f1, FALSE, m, summary(m), g)
  e$write.stats.dht(f1, TRUE, r)
  write.stats(f2, FALSE, ddf.stats(m, summary(m), g))
  write.stats(f2, TRUE, dht.stats(r))
  expect_identical(readBin(f1, "raw", 1e5), readBin(f2, "raw", 1e5))
  expect_error(e$check.factor.vars(d, "colour"), "factor column 'colour' named in the model definition")
  e$remove.quox.support.functions()
  expect_equal(ls(e, all.names = TRUE), character(0))
})
