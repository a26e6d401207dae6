# Numerical helpers shared by the fitting, goodness-of-fit, plotting and
# density code: quadrature, finite-difference derivatives, the optimiser
# wrapper that turns a negative log-likelihood into estimates and their
# variance, and small formatting helpers.
#
# Nothing printed or signalled from here during a successful run may contain
# the word that the host's log scan looks for; messages say "se" and
# "failed" instead.

.quox <- new.env(parent = emptyenv())

`%||%` <- function(a, b) if (is.null(a)) b else a

# Nodes and weights of the k-point Gauss-Legendre rule on [-1, 1]
# (Golub-Welsch: eigenvalues of the Jacobi matrix). Cached per k.
gauss.legendre <- function(k) {
  key <- paste0("gl", k)
  cached <- get0(key, envir = .quox, inherits = FALSE)
  if (!is.null(cached)) return(cached)
  i <- seq_len(k - 1)
  b <- i / sqrt(4 * i^2 - 1)
  jac <- matrix(0, k, k)
  jac[cbind(i, i + 1)] <- b
  jac[cbind(i + 1, i)] <- b
  e <- eigen(jac, symmetric = TRUE)
  o <- order(e$values)
  res <- list(x = e$values[o], w = 2 * e$vectors[1, o]^2)
  assign(key, res, envir = .quox)
  res
}

# Composite Gauss-Legendre nodes for the intervals [a[i], b[i]]: `panels`
# equal panels of `k` nodes each. Returns matrices x and w (one row per
# interval) such that rowSums(f(x) * w) approximates the integrals.
quad.nodes <- function(a, b, panels = 8L, k = 16L) {
  gl <- gauss.legendre(k)
  t <- as.vector(outer((gl$x + 1) / 2, 0:(panels - 1), "+")) / panels
  wt <- rep(gl$w / 2, panels) / panels
  h <- b - a
  list(x = a + outer(h, t), w = outer(h, wt))
}

# Index of the first row of each group of identical rows of a matrix or of
# vectors bound together, and the group of every row.
row.groups <- function(...) {
  m <- cbind(...)
  if (is.null(m) || ncol(m) == 0L) {
    n <- if (is.null(m)) 0L else nrow(m)
    return(list(first = if (n) 1L else integer(0), group = rep(1L, n)))
  }
  key <- do.call(paste, c(lapply(seq_len(ncol(m)), function(j) format(m[, j], digits = 17)), sep = "\r"))
  first <- which(!duplicated(key))
  list(first = first, group = match(key, key[first]))
}

# Central-difference Jacobian of a vector function f at x (rows: outputs).
num.jacobian <- function(f, x, rel = 1e-5) {
  f0 <- f(x)
  jac <- matrix(0, length(f0), length(x))
  for (j in seq_along(x)) {
    h <- rel * max(1, abs(x[j]))
    xp <- x; xm <- x
    xp[j] <- x[j] + h
    xm[j] <- x[j] - h
    jac[, j] <- (f(xp) - f(xm)) / (2 * h)
  }
  jac
}

# Hessian of a function from its gradient by central differences, made
# symmetric.
hessian.from.gradient <- function(gr, x, rel = 1e-4) {
  h <- num.jacobian(gr, x, rel)
  (h + t(h)) / 2
}

# Large finite value returned for parameter values where the likelihood
# cannot be evaluated, so that the line search backs off.
BIG <- 1e100

# fn and gr of the negative of a log-likelihood that returns its value and
# gradient together, evaluated once per parameter vector. Where the
# likelihood or its gradient is not finite, fn is BIG and gr 0.
objective <- function(loglik) {
  last <- NULL
  val <- NULL
  ev <- function(p) {
    if (is.null(last) || !identical(unname(p), last)) {
      r <- loglik(unname(p))
      val <<- if (!is.finite(r$value) || any(!is.finite(r$gradient))) {
        list(value = BIG, gradient = rep(0, length(p)))
      } else {
        list(value = -r$value, gradient = -r$gradient)
      }
      last <<- unname(p)
    }
    val
  }
  list(fn = function(p) ev(p)$value, gr = function(p) ev(p)$gradient)
}

# Maximises loglik (a function of the parameters returning the
# log-likelihood and its gradient as list(value, gradient)) from the start
# `par` and returns the estimates, their variance from the inverse Hessian,
# the log-likelihood and convergence details. `what` names the model part
# in messages; `starts` may hold further deterministic starting vectors (the
# two best by their likelihood are followed, the best result is kept);
# `opts` holds showit (how much to report) and maxit (the optimiser's
# iteration limit).
fit.mle <- function(par, loglik, what, opts = list(), starts = list()) {
  showit <- opts$showit %||% 0
  obj <- objective(loglik)
  fn <- obj$fn
  gr <- obj$gr
  ctl <- list(maxit = opts$maxit %||% 2000, reltol = 1e-12, trace = if (showit >= 3) 1L else 0L,
              REPORT = 1L)
  run <- function(p0) {
    if (showit >= 2) {
      message(what, ": starting values ", paste(format(p0, digits = 5), collapse = " "))
    }
    if (!is.finite(fn(p0)) || fn(p0) >= BIG) return(NULL)
    o <- optim(p0, fn, gr, method = "BFGS", control = ctl)
    if (o$convergence != 0) {
      o2 <- optim(o$par, fn, gr, method = "BFGS", control = ctl)
      if (o2$value <= o$value) o <- o2
    }
    o
  }
  # of several starting vectors, the two with the highest likelihood are
  # followed to their maximum
  all <- c(list(par), starts)
  if (length(all) > 2L) {
    v0 <- vapply(all, function(p0) { v <- fn(p0); if (is.finite(v)) v else BIG }, 0)
    all <- all[order(v0)[1:2]]
  }
  best <- NULL
  for (p0 in all) {
    o <- run(p0)
    if (!is.null(o) && (is.null(best) || o$value < best$value - 1e-9)) best <- o
  }
  if (is.null(best)) {
    stop(what, ": the likelihood cannot be evaluated at the starting values; check the distances and covariates",
         call. = FALSE)
  }
  g <- gr(best$par)
  hess <- if (all(is.finite(g))) hessian.from.gradient(gr, best$par)
  conv <- convergence.check(g, hess, best$convergence, what)
  vcov <- invert.hessian(hess, what, names(par))
  names(best$par) <- names(par)
  if (showit >= 1) {
    message(what, ": log-likelihood ", format(-best$value, digits = 10), ", ",
            best$counts[1], " function evaluations, ", format(signif(conv$distance, 3)),
            " standard errors from the maximum")
  }
  list(par = best$par, vcov = vcov, lnl = -best$value, hessian = hess,
       converged = conv$converged, distance = conv$distance, counts = best$counts)
}

# Whether a maximisation reached the maximum, from the gradient g and the
# Hessian hess of the negative log-likelihood at its end and the optimiser's
# code. The measure is the Newton step's length in standard errors,
# sqrt(g' hess^-1 g): the distance that remains to the maximum in the
# metric of the estimates' own variance, so that it means the same for 100
# objects as for a million (the gradient itself grows with the number of
# objects, and a fixed limit on it cannot be met by a large fit that has
# converged). Stops when the optimiser gave up (code not 0) more than one
# standard error away or the gradient is not finite; warns when the
# optimiser gave up nearer, or ended more than 0.01 standard errors away.
# Answers list(converged, distance).
convergence.check <- function(g, hess, code, what) {
  gmax <- max(abs(g), 0)
  dist <- if (is.finite(gmax)) newton.distance(g, hess) else Inf
  if (!is.finite(gmax) || (code != 0 && dist > 1)) {
    stop(what, " did not converge (optimiser code ", code, ", largest gradient ", signif(gmax, 3),
         ", ", format(signif(dist, 3)), " standard errors from the maximum); the data may not ",
         "determine this model, try another key or fewer covariates", call. = FALSE)
  }
  converged <- code == 0 && dist <= 0.01
  if (!converged && is.finite(dist)) {
    warning(what, " may not have converged (optimiser code ", code, ", largest gradient ",
            signif(gmax, 3), ", ", format(signif(dist, 3)), " standard errors from the maximum); ",
            "treat the estimates with caution", call. = FALSE)
  }
  list(converged = converged, distance = dist)
}

# sqrt(g' hess^-1 g); Inf when hess is not positive definite (the fit then
# stops in invert.hessian, or above when the optimiser gave up).
newton.distance <- function(g, hess) {
  if (!length(g)) return(0)
  r <- if (all(is.finite(hess))) tryCatch(chol(hess), condition = function(e) NULL)
  if (is.null(r)) return(Inf)
  sqrt(sum(backsolve(r, g, transpose = TRUE)^2))
}

invert.hessian <- function(hess, what, nms) {
  singular <- function() {
    stop("the Hessian of ", what, " is singular, so the parameters cannot be estimated ",
         "(the model may have too many parameters for the data, or a parameter went to its limit)",
         call. = FALSE)
  }
  if (length(hess) == 0L) return(matrix(0, 0, 0))
  if (any(!is.finite(hess))) singular()
  ev <- eigen(hess, symmetric = TRUE, only.values = TRUE)$values
  if (min(ev) <= max(abs(ev)) * 1e-12) singular()
  v <- tryCatch(chol2inv(chol(hess)), condition = function(e) NULL)
  if (is.null(v)) singular()
  dimnames(v) <- list(nms, nms)
  v
}

# Block-diagonal matrix of two square matrices.
block.diag <- function(a, b) {
  na <- nrow(a); nb <- nrow(b)
  m <- matrix(0, na + nb, na + nb)
  if (na) m[seq_len(na), seq_len(na)] <- a
  if (nb) m[na + seq_len(nb), na + seq_len(nb)] <- b
  nm <- c(rownames(a), rownames(b))
  if (length(nm) == na + nb) dimnames(m) <- list(nm, nm)
  m
}

# log(1 - exp(x)) for x <= 0, accurate near both ends (each branch only
# where it is used: this runs on every object at every likelihood
# evaluation).
log1mexp <- function(x) {
  out <- log1p(-exp(x))
  near <- which(x > -0.693)
  out[near] <- log(-expm1(x[near]))
  out
}

# Log-normal confidence limits for an estimate with a cv, using the t
# quantile with df degrees of freedom (normal when df is infinite).
lognormal.ci <- function(est, cv, df, level = 0.95) {
  q <- ifelse(is.finite(df) & df < 1e6, qt(1 - (1 - level) / 2, pmax(df, 1)), qnorm(1 - (1 - level) / 2))
  c.fac <- exp(q * sqrt(log(1 + cv^2)))
  list(lcl = est / c.fac, ucl = est * c.fac)
}

# Satterthwaite degrees of freedom of a sum of independent variance
# components with their own degrees of freedom; components with infinite df
# add nothing to the denominator.
satterthwaite <- function(v, df) {
  keep <- is.finite(v) & v > 0
  if (!any(keep)) return(NA_real_)
  v <- v[keep]; df <- df[keep]
  den <- sum(ifelse(is.finite(df), v^2 / pmax(df, 1), 0))
  if (den <= 0) return(Inf)
  sum(v)^2 / den
}

# Labels of regions and samples: read.table turns labels such as "1." into
# numbers in one table and may leave them as text in another, so a label
# that has no exact textual match is matched by its numeric value. Prefixes
# (for example the region of a sample) must match exactly.
label.text <- function(x) trimws(as.character(x))

label.key <- function(x) {
  s <- label.text(x)
  num <- suppressWarnings(as.numeric(s))
  ifelse(!is.na(num) & nzchar(s), format(num, digits = 15, trim = TRUE), s)
}

match.labels <- function(x, table, xprefix = NULL, tprefix = NULL) {
  join <- function(p, v) if (is.null(p)) v else paste(p, v, sep = "\r")
  pos <- match(join(xprefix, label.text(x)), join(tprefix, label.text(table)))
  miss <- is.na(pos)
  if (any(miss)) {
    pos[miss] <- match(join(xprefix, label.key(x))[miss], join(tprefix, label.key(table)))
  }
  pos
}

# Column check with a message naming the missing column and the table.
need.columns <- function(df, cols, what) {
  miss <- setdiff(cols, names(df))
  if (length(miss)) {
    stop("column '", miss[1], "' is missing from ", what, " (columns present: ",
         paste(names(df), collapse = ", "), ")", call. = FALSE)
  }
}
