library(testthat)
library(quox)

test_check("quox")
