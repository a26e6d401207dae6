ddf <- function(...) stop("not yet built")
