# Bad data and bad arguments stop with a message naming the cause: each row
# of cases/errors.tsv is a call on the data below and its exact message.

d <- sim.double(N = 300, seed = 41)
io <- function(data) fit(data)
m <- io(d)
region <- data.frame(Region.Label = c("R1", "R2"), Area = c(10, 20))
sample <- data.frame(Sample.Label = c("T1", "T2", "T3"), Region.Label = c("R1", "R1", "R2"), Effort = c(1, 2, 3))
obs <- data.frame(object = unique(d$object), Region.Label = "R1", Sample.Label = "T1")

errors <- read.cases("errors.tsv")
for (i in seq_len(nrow(errors))) {
  test_that(paste("stops on", errors$case[i]), {
    expect_error(eval(parse(text = errors$call[i])), errors$message[i], fixed = TRUE)
  })
}
