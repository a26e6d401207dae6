# The distance-sampling ("ds") part: the likelihood of the detected
# distances given a key function whose scale may depend on covariates.
#
#   exact distances:  L = prod g(x_i; z_i) / mu(z_i)
#   binned distances: L = prod int_{a_i}^{b_i} g(x; z_i) dx / mu(z_i)
#   mu(z) = int_left^width g(x; z) dx
#
# For the half-normal key the integrals are closed form; for the hazard
# rate they use composite Gauss-Legendre quadrature, evaluated once per
# distinct covariate row (and bin), which keeps factor covariates cheap.

ds.setup <- function(spec, obj, width, left, binned) {
  key <- spec$key
  z <- ds.design(spec$formula, obj)
  if (key == "unif" && ncol(z) > 0L) {
    if (!(ncol(z) == 1L && colnames(z)[1] == "(Intercept)")) {
      stop("the uniform key has no scale, so its formula must be ~1", call. = FALSE)
    }
    z <- z[, 0, drop = FALSE]
  }
  nscale <- ncol(z)
  npar <- nscale + (key == "hr")
  m <- list(key = key, formula = spec$formula, model = spec$model, Z = z,
            nscale = nscale, npar = npar, width = width, left = left, binned = binned,
            iscale = seq_len(nscale), ishape = if (key == "hr") nscale + 1L else integer(0),
            n = nrow(obj))
  m$gmu <- row.groups(z)
  if (binned) {
    m$a <- obj$distbegin
    m$b <- obj$distend
    m$gnum <- row.groups(z, m$a, m$b)
  } else {
    m$x <- obj$distance
  }
  m$names <- c(colnames(z), if (key == "hr") "shape")
  m
}

# Design matrix of the ds formula on the object table, after
# check.covariates.
ds.design <- function(formula, obj) {
  check.covariates(formula, obj, "ds")
  mf <- model.frame(formula, obj, na.action = na.pass)
  model.matrix(formula, mf)
}

# Stops unless every covariate of the formula of model part `part` ("ds" or
# "mr") is a column of obj without missing values, and every factor among
# them has more than one value.
check.covariates <- function(formula, obj, part) {
  for (v in all.vars(formula)) {
    if (!v %in% names(obj)) {
      stop("covariate '", v, "' of the ", part, " formula is not a column of the data", call. = FALSE)
    }
    if (v %in% c("distance", "observer", "detected") && part == "ds") {
      stop("the ds formula cannot contain '", v, "': it models the scale of the detection function",
           call. = FALSE)
    }
    miss <- which(is.na(obj[[v]]))
    if (length(miss)) {
      stop("covariate '", v, "' is missing for object ", obj$object[miss[1]], call. = FALSE)
    }
    if ((is.factor(obj[[v]]) || is.character(obj[[v]])) && length(unique(as.character(obj[[v]]))) < 2L) {
      stop("factor '", v, "' of the ", part, " formula has only one value in the data, ",
           "so its effect cannot be estimated", call. = FALSE)
    }
  }
}

ds.scale <- function(par, m) {
  if (m$nscale == 0L) return(rep(1, nrow(m$Z)))
  exp(drop(m$Z %*% par[m$iscale]))
}

ds.shape <- function(par, m) if (m$key == "hr") exp(par[m$ishape]) else NA_real_

# mu(z_i) for every row of the design m$Z.
ds.mu <- function(par, m) {
  if (m$key == "unif") return(rep(m$width - m$left, m$n))
  sc <- ds.scale(par, m)
  g <- m$gmu
  v <- key.integral(m$key, m$left, m$width, sc[g$first], ds.shape(par, m))$v
  v[g$group]
}

# Log-likelihood and its gradient; with scores = TRUE the matrix of each
# object's score instead.
ds.loglik <- function(par, m, scores = FALSE) {
  key <- m$key
  if (m$npar == 0L) {
    if (scores) return(matrix(0, m$n, 0))
    ll <- if (m$binned) sum(log((m$b - m$a) / (m$width - m$left))) else -m$n * log(m$width - m$left)
    return(list(value = ll, gradient = numeric(0)))
  }
  sc <- ds.scale(par, m)
  sh <- ds.shape(par, m)
  gm <- m$gmu
  mu <- key.integral(key, m$left, m$width, sc[gm$first], sh, deriv = TRUE)
  lmu <- log(mu$v)[gm$group]
  dmu.s <- (mu$ds / mu$v)[gm$group]
  dmu.h <- if (key == "hr") (mu$dsh / mu$v)[gm$group] else 0
  if (m$binned) {
    gn <- m$gnum
    f <- gn$first
    num <- key.integral(key, m$a[f], m$b[f], sc[f], sh, deriv = TRUE)
    ln <- log(num$v)[gn$group]
    dn.s <- (num$ds / num$v)[gn$group]
    dn.h <- if (key == "hr") (num$dsh / num$v)[gn$group] else 0
  } else {
    x <- m$x
    if (key == "hn") {
      ln <- -x^2 / (2 * sc^2)
      dn.s <- x^2 / sc^2
      dn.h <- 0
    } else {
      # r = (sigma / x)^b, g = 1 - exp(-r); d g / d log sigma = b r exp(-r),
      # d g / d log b = log(r) r exp(-r)
      lr <- sh * (log(sc) - log(x))
      r <- exp(lr)
      ln <- ifelse(r < 1e-10, lr, log(-expm1(-r)))
      er <- exp(-r) * r
      er[!is.finite(er)] <- 0
      dsh <- er * lr
      dsh[!is.finite(dsh)] <- 0
      g <- exp(ln)
      dn.s <- ifelse(g > 0, er * sh / g, 0)
      dn.h <- ifelse(g > 0, dsh / g, 0)
      # where g underflows, d log g / d log sigma -> b and d log g / d log b -> lr
      small <- r < 1e-10
      dn.s[small] <- sh
      dn.h[small] <- lr[small]
    }
  }
  ll <- sum(ln - lmu)
  ds.i <- dn.s - dmu.s
  if (scores) {
    sc.i <- m$Z * ds.i
    if (key == "hr") sc.i <- cbind(sc.i, dn.h - dmu.h)
    return(sc.i)
  }
  grad <- drop(crossprod(m$Z, ds.i))
  if (key == "hr") grad <- c(grad, sum(dn.h - dmu.h))
  list(value = ll, gradient = grad)
}

# Deterministic starting values: the scale from the spread of the distances,
# covariate effects 0; for the hazard rate a small grid of scale and shape.
ds.starts <- function(m) {
  d <- if (m$binned) (m$a + m$b) / 2 else m$x
  w <- m$width - m$left
  base <- numeric(m$nscale)
  names(base) <- colnames(m$Z)
  icpt <- which(colnames(m$Z) == "(Intercept)")
  put <- function(ls) { b <- base; if (length(icpt)) b[icpt] <- ls; b }
  if (m$key == "hn") {
    s0 <- sqrt(mean(d^2))
    s0 <- min(max(s0, w / 20), 5 * m$width)
    return(list(put(log(s0))))
  }
  # hazard rate
  combos <- list(c(0.5, 2.5), c(0.3, 1.5), c(0.7, 5), c(0.2, 3))
  lapply(combos, function(cb) c(put(log(cb[1] * m$width)), shape = log(cb[2])))
}

ds.fit <- function(m, opts) {
  if (m$npar == 0L) {
    ll <- ds.loglik(numeric(0), m)$value
    return(list(par = numeric(0), vcov = matrix(0, 0, 0), lnl = ll, converged = TRUE))
  }
  if (m$n < m$npar + 1L) {
    stop("too few observations for the ds model: ", m$n, " detections for ", m$npar,
         " parameters", call. = FALSE)
  }
  st <- ds.starts(m)
  names(st[[1]]) <- m$names
  fit.mle(st[[1]], function(p) ds.loglik(p, m), "the ds model", opts, starts = st[-1])
}
