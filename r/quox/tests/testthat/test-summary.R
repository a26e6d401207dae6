# The printed results of a fit: removal fits with fewer objects than
# removal.small.n carry one plain line about the small-sample bias, printed
# and not raised as a warning; the word the engine's log scan looks for
# never appears.

big <- sim.double(N = 2400, seed = 71)
note.cases <- data.frame(method = c("rem", "rem", "rem.fi", "io", "trial"),
                         k = c(removal.small.n - 1L, removal.small.n, 150L, 150L, 150L),
                         note = c(TRUE, FALSE, TRUE, FALSE, FALSE))

for (i in seq_len(nrow(note.cases))) {
  cs <- note.cases[i, ]
  test_that(paste(cs$method, "with", cs$k, "objects", if (cs$note) "notes" else "does not note",
                  "the small-sample bias"), {
    d <- big[big$object %in% unique(big$object)[seq_len(cs$k)], ]
    expect_silent(m <- fit(d, cs$method, mr = if (cs$method == "io") ~distance + observer else ~distance))
    expect_equal(length(m$ht), if (cs$method == "trial") sum(d$detected[d$observer == 1]) else cs$k)
    out <- c(capture.output(print(summary(m))), capture.output(print(m)))
    hits <- grep("^Note: removal estimates", out)
    expect_equal(length(hits), if (cs$note) 2L else 0L)
    if (cs$note) expect_match(out[hits[1]], paste0("(here ", cs$k, ")"), fixed = TRUE)
    expect_false(any(grepl("error", out, ignore.case = TRUE)))
  })
}
