# create.interval.data(): the distance interval [distbegin, distend) of each
# distance for a list of cutpoints. The last interval includes its upper
# end. A distance outside the cutpoints, or a missing one, gets distend Inf
# (and distbegin NA), so that the command file's filter "distend <= width"
# drops it.

create.interval.data <- function(distance, cutpoints, width = NULL) {
  if (!is.numeric(cutpoints) || length(cutpoints) < 2L || any(!is.finite(cutpoints))) {
    stop("cutpoints must be at least two numbers", call. = FALSE)
  }
  if (any(diff(cutpoints) <= 0)) stop("cutpoints must increase", call. = FALSE)
  if (!is.null(width) && (!is.numeric(width) || length(width) != 1L || !is.finite(width))) {
    stop("width must be a number", call. = FALSE)
  }
  d <- suppressWarnings(as.numeric(distance))
  k <- length(cutpoints)
  i <- findInterval(d, cutpoints, rightmost.closed = TRUE)
  inside <- !is.na(d) & i >= 1L & i < k
  begin <- rep(NA_real_, length(d))
  end <- rep(Inf, length(d))
  begin[inside] <- cutpoints[i[inside]]
  end[inside] <- cutpoints[i[inside] + 1L]
  list(distbegin = begin, distend = end)
}
