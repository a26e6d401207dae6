# Bad data and bad arguments stop with a message naming the cause.

d <- sim.double(N = 300, seed = 41)
io <- function(data, ...) {
  ddf(method = "io", dsmodel = ~cds(key = "hn", formula = ~1),
      mrmodel = ~glm(link = "logit", formula = ~distance), data = data,
      meta.data = list(width = 50), ...)
}

ddf.cases <- list(
  list("missing distance column", function() io(d[, names(d) != "distance"]),
       "column 'distance' is missing from the detection data"),
  list("missing detected column", function() io(d[, names(d) != "detected"]),
       "column 'detected' is missing from the double-observer data"),
  list("an object with a row for observer 1 only", function() io(d[-4, ]),
       "object 2 has 1 row(s) for observer 1 and 0 for observer 2; double-observer data need one row for each observer"),
  list("single-observer rows in double-observer data", function() { x <- d; x$observer <- 1; io(x) },
       "object 1 has 2 row(s) for observer 1 and 0 for observer 2"),
  list("an object detected by neither observer", function() { x <- d; x$detected[x$object == 3] <- 0; io(x) },
       "object 3 was detected by neither observer"),
  list("an observer number other than 1 or 2", function() { x <- d; x$observer[5] <- 3; io(x) },
       "object 3 has observer value '3'; observers must be 1 or 2"),
  list("a detected value other than 0 or 1", function() { x <- d; x$detected[1] <- 2; io(x) },
       "object 1 has detected value '2'; detected must be 0 or 1"),
  list("no detections within the truncation distance",
       function() ddf(method = "ds", dsmodel = ~cds(key = "hn", formula = ~1), data = d[d$distance > 10, ],
                      meta.data = list(width = 5)),
       "no detections within the truncation distances (left 0, width 5)"),
  list("no detection at all in single-observer data",
       function() { x <- d; x$detected <- 0; ddf(method = "ds", dsmodel = ~cds(key = "hn", formula = ~1), data = x) },
       "no object is marked as detected in the data"),
  list("a missing distance", function() { x <- d; x$distance[x$object == 7] <- NA; io(x) },
       "object 7 has no distance"),
  list("a cluster size of 0", function() { x <- d; x$size[x$object == 2] <- 0; io(x) },
       "object 2 has cluster size '0'; sizes must be positive numbers"),
  list("no object seen by both observers",
       function() { x <- d; both <- x$object %in% per.object(d)$object[per.object(d)$d1 + per.object(d)$d2 == 2]
                    x$detected[both & x$observer == 2] <- 0; io(x) },
       "no object was seen by both observers"),
  list("an unknown method", function() ddf(method = "xx", data = d), "unknown method 'xx'"),
  list("an unknown key", function() ddf(method = "ds", dsmodel = ~cds(key = "gamma", formula = ~1), data = d),
       "unknown key 'gamma'; use hn, hr or unif"),
  list("adjustment terms", function() ddf(method = "ds", dsmodel = ~cds(key = "hn", adj.series = "cos"), data = d),
       "dsmodel argument 'adj.series' is not supported"),
  list("a link other than logit",
       function() ddf(method = "io", dsmodel = ~cds(key = "hn"), mrmodel = ~glm(link = "probit", formula = ~distance), data = d),
       "mr link 'probit' is not available"),
  list("a covariate that is not a column",
       function() ddf(method = "ds", dsmodel = ~mcds(key = "hn", formula = ~colour), data = d),
       "covariate 'colour' of the ds formula is not a column of the data"),
  list("observer in the mr formula of a trial",
       function() ddf(method = "trial", dsmodel = ~cds(key = "hn"), mrmodel = ~glm(formula = ~distance + observer), data = d),
       "the mr formula of a trial method cannot contain observer"),
  list("a method without its mrmodel", function() ddf(method = "io", dsmodel = ~cds(key = "hn"), data = d),
       "method 'io' needs an mrmodel"),
  list("too few observations for the model",
       function() ddf(method = "ds", dsmodel = ~cds(key = "hr", formula = ~1), data = d[d$object <= 1 & d$detected == 1, ]),
       "too few observations for the ds model: 1 detections for 2 parameters"))

for (cs in ddf.cases) {
  test_that(paste("ddf stops on", cs[[1]]), {
    expect_error(cs[[2]](), cs[[3]], fixed = TRUE)
  })
}

test_that("a singular Hessian is reported as such", {
  x <- d
  x$twin <- x$distance
  expect_error(ddf(method = "io", dsmodel = ~cds(key = "hn"),
                   mrmodel = ~glm(formula = ~distance + twin), data = x, meta.data = list(width = 50)),
               "the Hessian of the mr model is singular", fixed = TRUE)
})

m <- io(d)
region <- data.frame(Region.Label = c("R1", "R2"), Area = c(10, 20))
sample <- data.frame(Sample.Label = c("T1", "T2", "T3"), Region.Label = c("R1", "R1", "R2"), Effort = c(1, 2, 3))
obs <- data.frame(object = unique(d$object), Region.Label = "R1", Sample.Label = "T1")

dht.cases <- list(
  list("effort 0", function() { s <- sample; s$Effort[2] <- 0; dht(m, region, s, obs) },
       "sample 'T2' of region 'R1' has effort 0; effort must be positive"),
  list("negative area", function() { r <- region; r$Area[2] <- -1; dht(m, r, sample, obs) },
       "region 'R2' has a negative area"),
  list("a missing column", function() dht(m, region, sample[, -3], obs),
       "column 'Effort' is missing from the sample table"),
  list("an object missing from the observation table", function() dht(m, region, sample, obs[-5, ]),
       "object 5 of the detection function data is not in the observation table"),
  list("an object on an unknown sample", function() { o <- obs; o$Sample.Label[3] <- "T9"; dht(m, region, sample, o) },
       "object 3 is on sample 'T9' of region 'R1', which is not in the sample table"),
  list("a sample of an unknown region", function() { s <- sample; s$Region.Label[3] <- "R7"; dht(m, region, s, obs) },
       "sample 'T3' belongs to region 'R7', which is not in the region table"),
  list("a region without samples", function() dht(m, rbind(region, data.frame(Region.Label = "R3", Area = 5)), sample, obs),
       "region 'R3' has no samples in the sample table"),
  list("a duplicated sample", function() dht(m, region, rbind(sample, sample[1, ]), obs),
       "sample 'T1' of region 'R1' appears more than once in the sample table"),
  list("an object on two samples", function() dht(m, region, sample, rbind(obs, data.frame(object = 1, Region.Label = "R1", Sample.Label = "T2"))),
       "object 1 is on more than one sample in the observation table"),
  list("an unknown varflag", function() dht(m, region, sample, obs, options = list(varflag = 5)),
       "options varflag must be 0, 1 or 2"))

for (cs in dht.cases) {
  test_that(paste("dht stops on", cs[[1]]), {
    expect_error(cs[[2]](), cs[[3]], fixed = TRUE)
  })
}

test_that("samples without detections keep their effort", {
  r <- dht(m, region, sample, obs, options = list(varflag = 1, convert.units = 0.001))
  expect_equal(r$regions$effort, c(3, 3))
  expect_equal(r$clusters$N$Estimate[2], 0)
  expect_equal(r$bysample$n, c(nrow(obs), 0, 0))
})

test_that("check.factor.vars names the missing factor column", {
  e <- support.env()
  skip_if(is.null(e), "support file not found")
  expect_error(e$check.factor.vars(d, c("sex", "colour")),
               "factor column 'colour' named in the model definition is not in the data", fixed = TRUE)
  expect_true(e$check.factor.vars(d, c("sex", "size")))
})
