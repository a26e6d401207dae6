# Key functions of the detection function (the "ds" part) and their
# integrals. The scale sigma enters on the log scale (log sigma = Z beta);
# the hazard-rate shape b as log b.
#
#   hn    g(x) = exp(-x^2 / (2 sigma^2))
#   hr    g(x) = 1 - exp(-(x / sigma)^(-b))
#   unif  g(x) = 1
#
# Distances are measured from the line; with left truncation the functions
# are used on [left, width] as they are (not shifted).

key.names <- c(hn = "half-normal", hr = "hazard-rate", unif = "uniform")

key.g <- function(key, x, scale, shape) {
  switch(key,
         hn = exp(-x^2 / (2 * scale^2)),
         hr = -expm1(-(x / scale)^(-shape)),
         unif = array(1, dim = if (is.null(dim(x))) length(x) else dim(x)))
}

# Integral of g over [a, b] (vectors, recycled with scale), with the
# derivatives of the integral with respect to log sigma and log b when
# deriv is TRUE.
key.integral <- function(key, a, b, scale, shape, deriv = FALSE) {
  n <- max(length(a), length(b), length(scale))
  a <- rep_len(a, n); b <- rep_len(b, n); scale <- rep_len(scale, n)
  if (key == "unif") {
    return(list(v = b - a, ds = rep(0, n)))
  }
  if (key == "hn") {
    # Phi(b / sigma) - Phi(a / sigma) for 0 <= a < b: from the upper tails
    # when both limits are far out, else as the difference of
    # Phi(u) - 1/2 = pgamma(u^2 / 2, 1/2) / 2, which keeps its precision
    # when sigma is much larger than the limits (pnorm(u) - 1/2 cancels to
    # 0 there, which made the likelihood of a very wide half-normal too high)
    qa <- a^2 / (2 * scale^2); qb <- b^2 / (2 * scale^2)
    far <- which(a > scale)
    v <- pgamma(qb, 0.5) - pgamma(qa, 0.5)
    v[far] <- pgamma(qa[far], 0.5, lower.tail = FALSE) - pgamma(qb[far], 0.5, lower.tail = FALSE)
    v <- scale * sqrt(pi / 2) * v
    res <- list(v = v)
    if (deriv) {
      ga <- exp(-a^2 / (2 * scale^2)); gb <- exp(-b^2 / (2 * scale^2))
      res$ds <- v - (b * gb - a * ga)
    }
    return(res)
  }
  # hazard rate: with t = x / sigma the integral is sigma times an integral
  # of 1 - exp(-t^-b) over [a / sigma, b / sigma]
  r <- hr.cumulative(a / scale, b / scale, shape, deriv)
  res <- list(v = scale * r$v)
  if (deriv) {
    # d/d log sigma of int_a^b g(x / sigma) dx = integral - (b g(b) - a g(a))
    ga <- ifelse(a > 0, key.g("hr", a, scale, shape), 1)
    res$ds <- res$v - (b * key.g("hr", b, scale, shape) - a * ga)
    res$dsh <- scale * r$dsh
  }
  res
}

# Integrals of k(t) = 1 - exp(-t^-b), and of its derivative with respect to
# log b, over [lo[i], hi[i]]: one cumulative integral over the sorted
# limits (8-point Gauss-Legendre on every gap; gaps of at most 0.05 up to
# t = 3, where the function bends, then growing by a quarter), differenced. Far cheaper than a quadrature per interval when there
# are many distinct scales.
hr.cumulative <- function(lo, hi, shape, deriv = FALSE) {
  top <- max(hi)
  fixed <- c(seq(0, 3, by = 0.05), 3 * 1.25^(1:60))
  grid <- sort(unique(c(0, lo, hi, fixed[fixed < top])))
  gl <- gauss.legendre(8L)
  a <- grid[-length(grid)]
  h <- diff(grid) / 2
  t <- a + outer(h, gl$x + 1)
  w <- outer(h, gl$w)
  lt <- log(t)
  r <- exp(-shape * lt)
  ilo <- match(lo, grid)
  ihi <- match(hi, grid)
  # differences of sums from the nearer end keep small far-out integrals
  # precise
  span <- function(seg) {
    head <- c(0, cumsum(seg))
    tail <- c(rev(cumsum(rev(seg))), 0)
    ifelse(tail[ilo] < head[ihi], tail[ilo] - tail[ihi], head[ihi] - head[ilo])
  }
  res <- list(v = span(rowSums(-expm1(-r) * w)))
  if (deriv) {
    e <- exp(-r) * r * shape * (-lt)
    e[!is.finite(e)] <- 0
    res$dsh <- span(rowSums(e * w))
  }
  res
}
