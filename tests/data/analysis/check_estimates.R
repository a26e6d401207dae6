# Reads `pramble estimates --format csv` as an analyst would and checks that
# its numbers are those the run printed: each abundance and density figure,
# rounded as R prints it (6 significant digits), stands in the run's output.
x <- read.csv('{CSV}', stringsAsFactors = FALSE)
stopifnot(identical(names(x), c("region", "quantity", "of", "estimate", "se", "cv", "lcl", "ucl", "df", "unit")))
stopifnot(is.numeric(x$estimate), is.numeric(x$lcl), nrow(x) > 20)
out <- paste(readLines('{OUTPUT}'), collapse = "\n")
est <- x[x$quantity %in% c("abundance", "density"), c("estimate", "se", "lcl", "ucl", "df")]
printed <- vapply(unlist(est), function(v) grepl(format(signif(v, 6)), out, fixed = TRUE), TRUE)
if (!all(printed)) stop("not in the output: ", paste(unlist(est)[!printed], collapse = ", "))
cat("checked", length(printed), "numbers\n")
