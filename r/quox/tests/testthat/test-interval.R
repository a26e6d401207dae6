# create.interval.data: the interval of each distance (cases/intervals.tsv).

num <- function(s) scan(text = s, quiet = TRUE)
intervals <- read.cases("intervals.tsv")
for (i in seq_len(nrow(intervals))) {
  cs <- intervals[i, ]
  test_that(paste("intervals of", cs$distance, "for cutpoints", cs$cutpoints), {
    r <- create.interval.data(num(cs$distance), num(cs$cutpoints), max(num(cs$cutpoints)))
    expect_equal(r$distbegin, num(cs$begin))
    expect_equal(r$distend, num(cs$end))
  })
}
