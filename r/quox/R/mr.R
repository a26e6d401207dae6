# The mark-recapture ("mr") part: the conditional probability of each
# object's capture history given that it was detected, from logistic models
# p_j(x, z) = plogis(X beta) for observer j (observer may be a covariate).
#
#   io    (independent observers): Pr(w | seen) = prod_j p_j^d_j (1 - p_j)^(1 - d_j) / p.
#         with p. = 1 - (1 - p_1)(1 - p_2), over all detected objects;
#   trial (observer 1 the trial, observer 2 the tracker):
#         Pr(d_1 | seen by 2) = p_1^d_1 (1 - p_1)^(1 - d_1), over the objects
#         seen by observer 2 (a logistic regression);
#   rem   (removal, observer 2 sees only what observer 1 missed, p_1 = p_2 = p):
#         Pr(seen by 1 | seen) = p / p.,  Pr(missed by 1, seen by 2 | seen) = (1 - p) p / p.
#         with p. = 1 - (1 - p)^2.

mr.setup <- function(spec, obj, mode) {
  formula <- spec$formula
  if (mode != "io" && "observer" %in% all.vars(formula)) {
    stop("the mr formula of a ", if (mode == "trial") "trial" else "removal",
         " method cannot contain observer: only one detection probability is estimable", call. = FALSE)
  }
  n <- nrow(obj)
  long <- rbind(obj, obj)
  long$observer <- factor(rep(c("1", "2"), each = n), levels = c("1", "2"))
  # covariates are checked on the data's own columns, before detected
  # becomes each row's capture history
  check.covariates(formula, long, "mr")
  long$detected <- c(obj$d1, obj$d2)
  tt <- terms(formula)
  mf <- model.frame(tt, long, na.action = na.pass)
  xlev <- .getXlevels(tt, mf)
  x <- model.matrix(tt, mf)
  m <- list(formula = formula, link = spec$link, mode = mode, terms = tt, xlev = xlev,
            X1 = x[seq_len(n), , drop = FALSE], X2 = x[n + seq_len(n), , drop = FALSE],
            d1 = obj$d1, d2 = obj$d2, npar = ncol(x), names = colnames(x), n = n)
  m$rows <- if (mode == "trial") which(obj$d2 == 1) else seq_len(n)
  mr.check(m)
  m
}

# Design matrix of the mr formula for new rows (distance or observer
# replaced), with the factor levels of the fitted data.
mr.X <- function(m, newdata, observer) {
  newdata$observer <- factor(rep_len(as.character(observer), nrow(newdata)), levels = c("1", "2"))
  tt <- delete.response(m$terms)
  mf <- model.frame(tt, newdata, xlev = m$xlev, na.action = na.pass)
  model.matrix(tt, mf)
}

mr.check <- function(m) {
  d1 <- m$d1; d2 <- m$d2
  if (m$mode == "io") {
    if (!any(d1 == 1 & d2 == 1)) {
      stop("no object was seen by both observers, so the conditional detection probabilities ",
           "cannot be estimated", call. = FALSE)
    }
    if (all(d1 == 1 & d2 == 1)) {
      stop("every object was seen by both observers, so the conditional detection probabilities ",
           "cannot be estimated (they are 1)", call. = FALSE)
    }
  } else if (m$mode == "trial") {
    s2 <- d2 == 1
    if (!any(s2)) stop("observer 2 (the tracker) saw no object, so the trial cannot be analysed", call. = FALSE)
    if (all(d1[s2] == 1)) {
      stop("observer 1 saw every object that observer 2 saw, so the conditional detection ",
           "probability cannot be estimated (it is 1)", call. = FALSE)
    }
    if (!any(d1[s2] == 1)) {
      stop("observer 1 saw none of the objects that observer 2 saw, so the conditional ",
           "detection probability cannot be estimated", call. = FALSE)
    }
  } else {
    if (!any(d1 == 0)) {
      stop("observer 2 saw no object that observer 1 missed, so the removal model cannot be ",
           "estimated (detection probability 1)", call. = FALSE)
    }
    if (!any(d1 == 1)) stop("observer 1 saw no object, so the removal model cannot be estimated", call. = FALSE)
  }
  if (length(m$rows) < m$npar + 1L) {
    stop("too few observations for the mr model: ", length(m$rows), " objects for ", m$npar,
         " parameters", call. = FALSE)
  }
}

# Conditional log-likelihood and gradient.
mr.loglik <- function(beta, m) {
  r <- m$rows
  x1 <- m$X1[r, , drop = FALSE]
  e1 <- drop(x1 %*% beta)
  # log(1 - p) = log(p) - eta: one plogis per observer
  lp1 <- plogis(e1, log.p = TRUE); lq1 <- lp1 - e1
  p1 <- exp(lp1); q1 <- exp(lq1)
  d1 <- m$d1[r]
  if (m$mode == "trial") {
    ll <- sum(d1 * lp1 + (1 - d1) * lq1)
    g <- crossprod(x1, d1 - p1)
  } else if (m$mode == "io") {
    x2 <- m$X2[r, , drop = FALSE]
    e2 <- drop(x2 %*% beta)
    lp2 <- plogis(e2, log.p = TRUE); lq2 <- lp2 - e2
    p2 <- exp(lp2); q2 <- exp(lq2)
    d2 <- m$d2[r]
    lpd <- log1mexp(lq1 + lq2)
    pd <- exp(lpd)
    ll <- sum(d1 * lp1 + (1 - d1) * lq1 + d2 * lp2 + (1 - d2) * lq2 - lpd)
    g <- crossprod(x1, d1 - p1 - p1 * q1 * q2 / pd) + crossprod(x2, d2 - p2 - p2 * q2 * q1 / pd)
  } else {
    lpd <- log1mexp(2 * lq1)
    ll <- sum(d1 * lp1 + (1 - d1) * (lq1 + lp1) - lpd)
    g <- crossprod(x1, q1 - (1 - d1) * p1 - 2 * q1^2 / (2 - p1))
  }
  list(value = ll, gradient = drop(g))
}

mr.start <- function(m) {
  r <- m$rows
  if (m$mode == "io") {
    x <- rbind(m$X1[r, , drop = FALSE], m$X2[r, , drop = FALSE])
    y <- c(m$d1[r], m$d2[r])
  } else {
    x <- m$X1[r, , drop = FALSE]
    y <- m$d1[r]
  }
  b <- tryCatch(suppressWarnings(glm.fit(x, y, family = binomial())$coefficients),
                condition = function(e) NULL)
  if (is.null(b) || any(!is.finite(b))) b <- numeric(m$npar)
  b <- pmin(pmax(b, -20), 20)
  names(b) <- m$names
  b
}

mr.fit <- function(m, opts) {
  st <- mr.start(m)
  fit.mle(st, function(p) mr.loglik(p, m), "the mr model", opts, starts = list(numeric(m$npar)))
}

# Detection probabilities from linear predictors of observers 1 and 2:
# the probability that at least one observer (io, rem) or observer 1
# (trial) detects.
mr.pcombined <- function(mode, e1, e2 = NULL) {
  if (mode == "trial") return(plogis(e1))
  if (mode == "io") return(-expm1(plogis(-e1, log.p = TRUE) + plogis(-e2, log.p = TRUE)))
  -expm1(2 * plogis(-e1, log.p = TRUE))
}
