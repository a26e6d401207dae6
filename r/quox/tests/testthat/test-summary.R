# The printed results of a fit: removal fits with fewer objects than
# removal.small.n carry one plain line about the small-sample bias, printed
# and not raised as a warning; the word the engine's log scan looks for
# never appears.

big <- sim.double(N = 2400, seed = 71)
first.objects <- function(k) big[big$object %in% unique(big$object)[seq_len(k)], ]

note.cases <- list(
  list(method = "rem", k = removal.small.n - 1L, note = TRUE),
  list(method = "rem", k = removal.small.n, note = FALSE),
  list(method = "rem.fi", k = 150L, note = TRUE),
  list(method = "io", k = 150L, note = FALSE),
  list(method = "trial", k = 150L, note = FALSE))

for (cs in note.cases) {
  test_that(paste(cs$method, "with", cs$k, "objects", if (cs$note) "notes" else "does not note",
                  "the small-sample bias"), {
    d <- first.objects(cs$k)
    mr <- if (cs$method == "io") ~distance + observer else ~distance
    expect_silent(m <- ddf(method = cs$method, dsmodel = ~cds(key = "hn", formula = ~1),
                           mrmodel = ~glm(link = "logit", formula = mr), data = d,
                           meta.data = list(width = 50)))
    expect_equal(length(m$ht), if (cs$method == "trial") sum(d$detected[d$observer == 1]) else cs$k)
    out <- c(capture.output(print(summary(m))), capture.output(print(m)))
    hits <- grep("^Note: removal estimates", out)
    expect_equal(length(hits), if (cs$note) 2L else 0L)
    if (cs$note) expect_match(out[hits[1]], paste0("(here ", cs$k, ")"), fixed = TRUE)
    expect_false(any(grepl("error", out, ignore.case = TRUE)))
  })
}
