# create.interval.data: the interval of each distance.

interval.cases <- list(
  list(d = c(0, 4.9, 5, 9.99, 10), cuts = c(0, 5, 10), begin = c(0, 0, 5, 5, 5), end = c(5, 5, 10, 10, 10)),
  list(d = c(12, 50, 50.5), cuts = c(0, 10, 20, 50), begin = c(10, 20, NA), end = c(20, 50, Inf)),
  list(d = c(-1, NA, 3), cuts = c(0, 10), begin = c(NA, NA, 0), end = c(Inf, Inf, 10)),
  list(d = c(1, 2, 3), cuts = c(2, 2.5, 4), begin = c(NA, 2, 2.5), end = c(Inf, 2.5, 4)))

for (cs in interval.cases) {
  test_that(paste("intervals of", paste(cs$d, collapse = " "), "for cutpoints", paste(cs$cuts, collapse = " ")), {
    r <- create.interval.data(cs$d, cs$cuts, max(cs$cuts))
    expect_equal(r$distbegin, cs$begin)
    expect_equal(r$distend, cs$end)
  })
}

test_that("the command file's filter keeps the rows inside the width", {
  dat <- data.frame(distance = c(5, 15, 45, 60))
  res <- create.interval.data(dat$distance, c(0, 10, 20, 50), 50)
  dat <- cbind(dat, data.frame(distbegin = res$distbegin, distend = res$distend))
  dat <- dat[(dat$distend <= 50), ]
  expect_equal(dat$distance, c(5, 15, 45))
})

test_that("bad cutpoints are refused", {
  expect_error(create.interval.data(1:3, c(0, 10, 5), 10), "cutpoints must increase", fixed = TRUE)
  expect_error(create.interval.data(1:3, 5, 10), "cutpoints must be at least two numbers", fixed = TRUE)
})
