# The statistics writers (statistics lines of a four-digit code, a tab and
# the value) and the host's support file, whose functions call them under the
# names the command file uses.

d <- sim.double(N = 400, seed = 61)
m <- fit(d)
g <- on.device(ddf.gof(m))

read.stats <- function(f) {
  l <- readLines(f)
  setNames(as.numeric(sub("^\\d{4}\t", "", l)), substr(l, 1, 4))
}

# Six objects in region A (sizes 1, 2 on a1; 3, 1, 1, 2 on a2), none in B; the
# data have no detected column: all are detections.
r <- dht(fit(data.frame(object = 1:6, distance = c(1, 5, 9, 20, 30, 44), size = c(1, 2, 3, 1, 1, 2)), "ds", key = "unif"),
         tiny$region, data.frame(Sample.Label = c("a1", "a2", "b1"), Region.Label = c("A", "A", "B"), Effort = c(2, 3, 4)),
         data.frame(object = 1:6, Region.Label = "A", Sample.Label = c("a1", "a1", "a2", "a2", "a2", "a2")),
         options = list(varflag = 1, convert.units = 0.001))

test_that("the statistics of a fit carry the documented codes", {
  s <- summary(m)
  f <- tempfile()
  on.exit(unlink(f))
  writeLines("old content", f)
  write.stats(f, FALSE, ddf.stats(m, s, g))
  expect_true(all(grepl("^[0-9]{4}\t-?[0-9]+(\\.[0-9]+)?$", readLines(f))))
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
  f <- tempfile()
  on.exit(unlink(f))
  write.stats(f, FALSE, dht.stats(r))
  v <- read.stats(f)
  # abundance of clusters in total, in A and in B (no detections), density,
  # individuals and expected cluster size in A, then A's counts and areas
  expect_equal(unname(v[c("1000", "1010", "1020", "2010", "3010", "5010")]), c(120, 120, 0, 12, 200, 10 / 6))
  expect_equal(unname(v[c("6010", "6011", "6012", "6014", "6015")]), c(6, 2, 5, 10, 0.5))
  expect_false(any(c("1022", "5021") %in% names(v)))  # B's cv and mean size are not numbers
  expect_equal(v[["1011"]], r$clusters$N$se[1], tolerance = 1e-8)
})

test_that("values are written without an exponent and with enough digits", {
  expect_equal(stat.lines(c(3, 7, 8, 9, 12), c(1234567.891, 0.000012345678, NA, Inf, -2.5)),
               c("0003\t1234567.89", "0007\t0.000012345678", "0012\t-2.5"))
})

test_that("the support file writes what the package writes, checks factors and removes its functions", {
  e <- support.env()
  skip_if(is.null(e), "support file not found")
  f1 <- tempfile(); f2 <- tempfile()
  on.exit(unlink(c(f1, f2)))
  e$write.stats.ddf(f1, FALSE, m, summary(m), g)
  e$write.stats.dht(f1, TRUE, r)
  write.stats(f2, FALSE, ddf.stats(m, summary(m), g))
  write.stats(f2, TRUE, dht.stats(r))
  expect_identical(readBin(f1, "raw", 1e5), readBin(f2, "raw", 1e5))
  expect_error(e$check.factor.vars(d, c("sex", "colour")),
               "factor column 'colour' named in the model definition is not in the data", fixed = TRUE)
  expect_true(e$check.factor.vars(d, c("sex", "size")))
  e$remove.quox.support.functions()
  expect_equal(ls(e, all.names = TRUE), character(0))
})

test_that("the support file takes the units and writes the statistics at full precision beside the file", {
  vars <- c(PRAMBLE_PRECISE_STATS = tempfile(), PRAMBLE_DISTANCE_UNIT = "Meter", PRAMBLE_EFFORT_UNIT = "",
            PRAMBLE_AREA_UNIT = " square kilometer")
  f <- tempfile()
  old <- options(quox.units = NULL)
  on.exit({ unlink(c(f, vars[[1]])); Sys.unsetenv(names(vars)); options(old) })
  do.call(Sys.setenv, as.list(vars))
  writeLines("old content", vars[[1]])
  e <- support.env()
  skip_if(is.null(e), "support file not found")
  expect_identical(getOption("quox.units"), list(distance = "Meter", area = "square kilometer"))
  e$write.stats.ddf(f, FALSE, m, summary(m), g)
  e$write.stats.dht(f, TRUE, r)
  s <- rbind(ddf.stats(m, summary(m), g), dht.stats(r))
  s <- s[is.finite(s$value), ]
  l <- readLines(vars[[1]])
  expect_identical(l[startsWith(l, "label\t")], sprintf("label\t%02d\t%s", seq_len(r$nregions), r$clusters$N$Label[seq_len(r$nregions)]))
  l <- l[!startsWith(l, "label\t")]
  expect_identical(substr(l, 1, 5), substr(readLines(f), 1, 5))
  expect_identical(as.numeric(substring(l, 6)), s$value)
})
