# ddf(): fits a detection function to single-observer (method "ds") or
# double-observer line-transect data by maximum likelihood and keeps what
# the summary, goodness-of-fit, plot and density functions need.
#
# Point-independence methods (io, trial, rem) combine a ds part for the
# shape of the detection function with an mr part for the detection
# probability on the line: p(x, z) = p.(0, z) g(x, z). Full-independence
# methods (io.fi, trial.fi, rem.fi) take the detection function from the mr
# model alone. The two parts have separate parameters and likelihoods that
# multiply, so they are maximised separately and their variances form a
# block-diagonal matrix.
#
# The detection probability of object i in the covered strip is
#   ds:        p_i = mu(z_i) / W
#   PI:        p_i = p.(0, z_i) mu(z_i) / W
#   FI:        p_i = (1 / W) int_left^width p.(x, z_i) dx
# with W = width - left; abundance in the covered region is the
# Horvitz-Thompson sum of 1 / p_i over the detected objects (over those of
# observer 1 for the trial methods). The formulas are described in
# docs/statistics.md.

method.table <- list(
  ds = list(double = FALSE, fi = FALSE, mode = "single",
            text = "single observer"),
  io = list(double = TRUE, fi = FALSE, mode = "io",
            text = "independent observers, point independence"),
  io.fi = list(double = TRUE, fi = TRUE, mode = "io",
               text = "independent observers, full independence"),
  trial = list(double = TRUE, fi = FALSE, mode = "trial",
               text = "trial configuration (observer 1 trial, observer 2 tracker), point independence"),
  trial.fi = list(double = TRUE, fi = TRUE, mode = "trial",
                  text = "trial configuration (observer 1 trial, observer 2 tracker), full independence"),
  rem = list(double = TRUE, fi = FALSE, mode = "rem",
             text = "removal configuration (observer 1 primary), point independence"),
  rem.fi = list(double = TRUE, fi = TRUE, mode = "rem",
                text = "removal configuration (observer 1 primary), full independence"))

ddf <- function(method = "ds", dsmodel = NULL, mrmodel = NULL, control = list(), data,
                meta.data = list()) {
  cl <- match.call()
  info <- method.info(method)
  showit <- as.integer(control$showit %||% 0)
  opts <- list(showit = showit, maxit = as.integer(control$maxit %||% 2000))
  if (is.na(opts$maxit) || opts$maxit < 1L) stop("control maxit must be a positive whole number", call. = FALSE)
  if (missing(data) || !is.data.frame(data)) stop("data must be a data frame", call. = FALSE)
  meta <- ddf.meta(meta.data, data)
  spec <- model.specs(info, dsmodel, mrmodel)
  obj <- ddf.objects(data, info, meta)
  ht <- if (info$mode == "trial") which(obj$d1 == 1) else seq_len(nrow(obj))
  if (!length(ht)) stop("observer 1 detected no object within the truncation distances", call. = FALSE)
  if (showit >= 1) message("Fitting method ", method, " to ", nrow(obj), " objects")
  fit <- fit.parts(spec, obj, ht, info, meta, opts)
  prob <- detection.probs(fit, obj[ht, , drop = FALSE], info, meta)
  model <- list(call = cl, method = method, info = info, meta.data = meta,
                control = control, data = obj, ht = ht,
                ds = if (!is.null(fit$ds.m)) c(fit$ds.r, list(setup = fit$ds.m, key = spec$ds$key,
                                                              formula = spec$ds$formula,
                                                              type = spec$ds$model)),
                mr = if (!is.null(fit$mr.m)) c(fit$mr.r, list(setup = fit$mr.m, formula = spec$mr$formula,
                                                              link = spec$mr$link)),
                par = fit$par, vcov = fit$vcov, lnl = fit$lnl, npar = length(fit$par),
                AIC = -2 * fit$lnl + 2 * length(fit$par), n = nrow(obj),
                ids = fit$ids, imr = fit$imr, pfun = prob$pfun, p0fun = prob$p0fun)
  model$score.X <- fit$score.X
  model <- ddf.derived(model)
  class(model) <- c(method, "ddf")
  if (showit >= 1) {
    message("Done: AIC ", format(model$AIC, digits = 10), ", average p ",
            format(model$average.p, digits = 6))
  }
  model
}

# The entry of method.table for a method name, with the name.
method.info <- function(method) {
  if (!is.character(method) || length(method) != 1L || !method %in% names(method.table)) {
    stop("unknown method '", paste(method, collapse = " "), "'; use one of ",
         paste(names(method.table), collapse = ", "), call. = FALSE)
  }
  info <- method.table[[method]]
  info$name <- method
  info
}

# The ds model (point-independence and single-observer methods) and the mr
# model (double-observer methods) that the method needs.
model.specs <- function(info, dsmodel, mrmodel) {
  method <- info$name
  spec <- list(ds = NULL, mr = NULL)
  if (!info$fi) {
    if (is.null(dsmodel)) stop("method '", method, "' needs a dsmodel such as ~cds(key='hn', formula=~1)", call. = FALSE)
    spec$ds <- parse.dsmodel(dsmodel)
  }
  if (info$double) {
    if (is.null(mrmodel)) {
      stop("method '", method, "' needs an mrmodel such as ~glm(link='logit', formula=~distance)", call. = FALSE)
    }
    spec$mr <- parse.mrmodel(mrmodel)
  }
  spec
}

# Fits the ds part to the abundance objects ht and the mr part to all
# objects, and joins their parameters (ds first, at ids; mr at imr), their
# variance (block-diagonal but for the correlation of the trial methods'
# parts) and log-likelihoods.
fit.parts <- function(spec, obj, ht, info, meta, opts) {
  f <- list()
  if (!is.null(spec$ds)) {
    f$ds.m <- ds.setup(spec$ds, obj[ht, , drop = FALSE], meta$width, meta$left, meta$binned)
    f$ds.r <- ds.fit(f$ds.m, opts)
  }
  if (!is.null(spec$mr)) {
    f$mr.m <- mr.setup(spec$mr, obj, info$mode)
    f$mr.r <- mr.fit(f$mr.m, opts)
  }
  nds <- if (is.null(f$ds.m)) 0L else f$ds.m$npar
  nmr <- if (is.null(f$mr.m)) 0L else f$mr.m$npar
  f$ids <- seq_len(nds)
  f$imr <- nds + seq_len(nmr)
  par <- c(if (nds) setNames(f$ds.r$par, paste0("ds.", f$ds.m$names)),
           if (nmr) setNames(f$mr.r$par, paste0("mr.", f$mr.m$names)))
  if (is.null(par)) par <- numeric(0)
  vcov <- block.diag(if (nds) f$ds.r$vcov else matrix(0, 0, 0), if (nmr) f$mr.r$vcov else matrix(0, 0, 0))
  if (info$mode == "trial" && length(par)) {
    f$score.X <- trial.score(obj, ht, f$mr.m$X1, f$mr.r$par, f$imr, length(par))
    if (nds && nmr) vcov <- trial.cross.vcov(vcov, f)
  }
  dimnames(vcov) <- list(names(par), names(par))
  f$par <- par
  f$vcov <- vcov
  f$lnl <- (if (is.null(f$ds.r)) 0 else f$ds.r$lnl) + (if (is.null(f$mr.r)) 0 else f$mr.r$lnl)
  f
}

# The ds part (observer 1's distances) and the mr part (observer 1's
# detections of the tracker's objects) of the trial methods share the
# objects seen by both, so their estimates are correlated: V_ds J V_mr with
# J the summed product of the two scores over those objects.
trial.cross.vcov <- function(vcov, f) {
  s.ds <- ds.loglik(f$ds.r$par, f$ds.m, scores = TRUE)[f$score.X$j, , drop = FALSE]
  cr <- f$ds.r$vcov %*% crossprod(s.ds, f$score.X$X[, f$imr, drop = FALSE]) %*% f$mr.r$vcov
  vcov[f$ids, f$imr] <- cr
  vcov[f$imr, f$ids] <- t(cr)
  vcov
}

# Detection probabilities of the abundance objects hto as functions of the
# parameter vector: pfun in the covered strip and, for double-observer
# methods, p0fun on the line.
detection.probs <- function(fit, hto, info, meta) {
  w.strip <- meta$width - meta$left
  ids <- fit$ids
  imr <- fit$imr
  ds.m <- fit$ds.m
  mr.m <- fit$mr.m
  p0fun <- NULL
  if (info$double) {
    d0 <- hto
    d0$distance <- 0
    x01 <- mr.X(mr.m, d0, 1)
    x02 <- mr.X(mr.m, d0, 2)
    p0fun <- function(th) {
      b <- th[imr]
      mr.pcombined(info$mode, drop(x01 %*% b), drop(x02 %*% b))
    }
  }
  if (!info$double) {
    pfun <- function(th) ds.mu(th[ids], ds.m) / w.strip
  } else if (!info$fi) {
    pfun <- function(th) p0fun(th) * ds.mu(th[ids], ds.m) / w.strip
  } else {
    nht <- nrow(hto)
    q <- quad.nodes(rep(meta$left, nht), rep(meta$width, nht), panels = 2L, k = 16L)
    nd <- take.rows(hto, rep(seq_len(nht), times = ncol(q$x)), all.vars(mr.m$formula))
    nd$distance <- as.vector(q$x)
    xn1 <- mr.X(mr.m, nd, 1)
    xn2 <- mr.X(mr.m, nd, 2)
    pfun <- function(th) {
      b <- th[imr]
      pc <- mr.pcombined(info$mode, drop(xn1 %*% b), drop(xn2 %*% b))
      rowSums(matrix(pc, nrow = nht) * q$w) / w.strip
    }
  }
  list(pfun = pfun, p0fun = p0fun)
}

# Trial methods: the counts of observer 1 and the mr estimates share the
# detections of the objects seen by both observers. The covariance between a
# weighted count sum_{seen by 1} w_i and the mr score sum_{seen by 2}
# X_i (d1_i - p1_i) is estimated by sum_{seen by both} w_i (1 - p1_i) X_i;
# through the inverse information it gives the covariance between the
# encounter part and the detection part of an abundance estimate (for the
# Lincoln-Petersen case this yields its usual variance). Rows of
# trial.score are the HT objects seen by both (j, indices among ht), columns
# the parameters of the whole model (npar, the mr ones at imr): each row is
# that object's score of the mr part.
trial.score <- function(obj, ht, X1, beta, imr, npar) {
  both <- which(obj$d2[ht] == 1)
  x1 <- X1[ht[both], , drop = FALSE]
  p1 <- plogis(drop(x1 %*% beta))
  sx <- matrix(0, length(both), npar)
  sx[, imr] <- x1 * (1 - p1)
  list(j = both, X = sx)
}

# Covariance vector between sum_j w_j over the HT objects and the
# parameter score (zero for methods other than trial).
score.cov <- function(model, w) {
  sc <- model$score.X
  if (is.null(sc)) return(numeric(length(model$par)))
  drop(crossprod(sc$X, w[sc$j]))
}

# Quantities derived from the fitted parameters: detection probabilities,
# abundance in the covered region and averages, with their se.
ddf.derived <- function(model) {
  par <- model$par
  v <- model$vcov
  p <- model$pfun(par)
  obj <- model$data
  ht <- model$ht
  bad <- which(!is.finite(p) | p <= 0)
  if (length(bad)) {
    stop("the fitted detection probability is 0 or undefined for object ", obj$object[ht[bad[1]]],
         call. = FALSE)
  }
  p <- pmin(p, 1)
  names(p) <- as.character(obj$object[ht])
  model$fitted <- p
  model$size <- if (!is.null(obj$size)) obj$size[ht] else NULL
  nc <- sum(1 / p)
  var.det <- 0
  if (length(par)) {
    g <- num.jacobian(function(th) sum(1 / model$pfun(th)), par)
    var.det <- drop(g %*% v %*% t(g))
  }
  var.samp <- sum((1 - p) / p^2)
  var.cov <- 0
  if (!is.null(model$score.X)) {
    var.cov <- 2 * drop(g %*% v %*% score.cov(model, 1 / p))
  }
  model$Nhat <- nc
  tot <- var.det + var.samp + var.cov
  model$Nhat.se <- sqrt(if (tot > 0) tot else var.det + var.samp)
  model$Nhat.var.det <- var.det
  model$average.p <- length(p) / nc
  model$average.p.se <- model$average.p * sqrt(var.det) / nc
  if (model$info$double) {
    model$n1 <- sum(obj$d1 == 1)
    model$n2 <- sum(obj$d2 == 1)
    model$n12 <- sum(obj$d1 == 1 & obj$d2 == 1)
    p0f <- function(th) {
      pp <- model$pfun(th)
      sum(model$p0fun(th) / pp) / sum(1 / pp)
    }
    model$p0 <- model$p0fun(par)
    model$average.p0 <- p0f(par)
    model$average.p0.se <- sqrt(drop({ g0 <- num.jacobian(p0f, par); g0 %*% v %*% t(g0) }))
    model$observer.p <- c(observer1 = model$n1 / nc, observer2 = model$n2 / nc)
    # fitted conditional detection probabilities at the objects' distances
    mr <- model$mr
    model$p.cond <- data.frame(object = obj$object, distance = obj$distance,
                               p1 = plogis(drop(mr$setup$X1 %*% mr$par)))
    if (model$info$mode != "trial") model$p.cond$p2 <- plogis(drop(mr$setup$X2 %*% mr$par))
  }
  cv <- sqrt(var.det) / nc
  if (!is.finite(model$Nhat.se) || any(!is.finite(diag(v))) || cv > 1) {
    warning("the variance of the fitted detection function is unusable (cv of N in the covered ",
            "region from the detection function ", format(signif(cv, 3)), "); estimates are uncertain",
            call. = FALSE)
  }
  model
}

ddf.meta <- function(meta, data) {
  if (!is.list(meta)) stop("meta.data must be a list", call. = FALSE)
  binned <- isTRUE(as.logical(meta$binned %||% FALSE))
  left <- meta$left %||% 0
  width <- meta$width
  if (is.null(width)) {
    d <- if (binned) data$distend else data$distance
    d <- d[is.finite(d)]
    if (!length(d)) stop("meta.data has no width and the data have no distances", call. = FALSE)
    width <- max(d)
  }
  if (!is.numeric(width) || length(width) != 1L || !is.finite(width) || width <= 0) {
    stop("meta.data width must be a positive number", call. = FALSE)
  }
  if (!is.numeric(left) || length(left) != 1L || !is.finite(left) || left < 0 || left >= width) {
    stop("meta.data left must be a number from 0 up to the width", call. = FALSE)
  }
  d <- if (binned) data$distend else data$distance
  d <- d[is.finite(d)]
  if (length(d) && all(d < width / 100)) {
    warning("every distance is under a hundredth of the truncation width (", format(width),
            "): the distances are probably in a larger unit than the width is meant in ",
            "(kilometres where the field declares metres?)", call. = FALSE)
  }
  list(width = width, left = left, binned = binned)
}

# Reads a model argument such as ~cds(key='hn', formula=~1) into its
# function name and named arguments.
model.call <- function(f, what, example) {
  if (!inherits(f, "formula") || length(f) != 2L || !is.call(f[[2]])) {
    stop(what, " must be a formula such as ", example, call. = FALSE)
  }
  cl <- f[[2]]
  args <- as.list(cl)[-1]
  list(name = as.character(cl[[1]]), args = args, env = environment(f))
}

arg.value <- function(mc, name, pos, default) {
  a <- mc$args
  nms <- names(a) %||% rep("", length(a))
  if (name %in% nms) return(eval(a[[name]], mc$env))
  unnamed <- which(nms == "")
  if (length(unnamed) >= pos) return(eval(a[[unnamed[pos]]], mc$env))
  default
}

parse.dsmodel <- function(dsmodel) {
  mc <- model.call(dsmodel, "dsmodel", "~cds(key='hn', formula=~1)")
  if (!mc$name %in% c("cds", "mcds")) {
    stop("dsmodel must be ~cds(...) or ~mcds(...), not ~", mc$name, "(...)", call. = FALSE)
  }
  extra <- setdiff(names(mc$args), c("", "key", "formula"))
  if (length(extra)) {
    stop("dsmodel argument '", extra[1], "' is not supported (adjustment terms are not available)",
         call. = FALSE)
  }
  key <- arg.value(mc, "key", 1, "hn")
  if (!is.character(key) || !key %in% names(key.names)) {
    stop("unknown key '", paste(key, collapse = " "), "'; use hn, hr or unif", call. = FALSE)
  }
  formula <- arg.value(mc, "formula", 2, ~1)
  if (!inherits(formula, "formula") || length(formula) != 2L) {
    stop("the ds formula must be a one-sided formula such as ~1 or ~sex", call. = FALSE)
  }
  list(model = mc$name, key = key, formula = formula)
}

parse.mrmodel <- function(mrmodel) {
  mc <- model.call(mrmodel, "mrmodel", "~glm(link='logit', formula=~distance)")
  if (mc$name != "glm") stop("mrmodel must be ~glm(...), not ~", mc$name, "(...)", call. = FALSE)
  link <- arg.value(mc, "link", 1, "logit")
  if (!identical(link, "logit")) {
    stop("mr link '", paste(link, collapse = " "), "' is not available; use link='logit'", call. = FALSE)
  }
  formula <- arg.value(mc, "formula", 2, NULL)
  if (!inherits(formula, "formula") || length(formula) != 2L) {
    stop("the mr formula must be a one-sided formula such as ~distance", call. = FALSE)
  }
  list(link = link, formula = formula)
}

# One row per object with its detection history d1, d2, after the checks
# of double-observer data and truncation.
ddf.objects <- function(data, info, meta) {
  if (!nrow(data)) stop("the data have no rows: there are no detections to fit", call. = FALSE)
  dcols <- if (meta$binned) c("distbegin", "distend") else "distance"
  need.columns(data, dcols, "the detection data")
  if (info$double) need.columns(data, c("object", "observer", "detected"), "the double-observer data")
  if (!"object" %in% names(data)) data$object <- seq_len(nrow(data))
  if (any(is.na(data$object))) {
    stop("row ", which(is.na(data$object))[1], " of the data has no object number", call. = FALSE)
  }
  if (info$double) {
    obj <- double.objects(data)
  } else {
    keep <- rep(TRUE, nrow(data))
    if ("detected" %in% names(data)) {
      check.detected(data)
      keep <- data$detected == 1
    }
    obj <- data[keep, , drop = FALSE]
    obj <- obj[!duplicated(as.character(obj$object)), , drop = FALSE]
    if (!nrow(obj)) stop("no object is marked as detected in the data", call. = FALSE)
    obj$d1 <- rep(1, nrow(obj))
    obj$d2 <- rep(0, nrow(obj))
  }
  eps <- 1e-8 * meta$width
  if (meta$binned) {
    a <- obj$distbegin; b <- obj$distend
    bad <- which(is.na(a) | is.na(b) | b <= a)
    if (length(bad)) {
      stop("object ", obj$object[bad[1]], " has no valid distance interval (distbegin ",
           a[bad[1]], ", distend ", b[bad[1]], ")", call. = FALSE)
    }
    keep <- a >= meta$left - eps & b <= meta$width + eps
    if (!"distance" %in% names(obj)) obj$distance <- (a + b) / 2
    nod <- is.na(obj$distance)
    obj$distance[nod] <- ((a + b) / 2)[nod]
  } else {
    x <- obj$distance
    if (!is.numeric(x)) stop("column 'distance' must hold numbers", call. = FALSE)
    bad <- which(is.na(x))
    if (length(bad)) stop("object ", obj$object[bad[1]], " has no distance", call. = FALSE)
    keep <- x >= meta$left - eps & x <= meta$width + eps
  }
  obj <- obj[keep, , drop = FALSE]
  if (!nrow(obj)) {
    stop("no detections within the truncation distances (left ", meta$left, ", width ",
         meta$width, ")", call. = FALSE)
  }
  if ("size" %in% names(obj)) {
    s <- obj$size
    bad <- which(is.na(s) | !is.numeric(s) | s <= 0)
    if (length(bad)) {
      stop("object ", obj$object[bad[1]], " has cluster size '", s[bad[1]],
           "'; sizes must be positive numbers", call. = FALSE)
    }
  }
  rownames(obj) <- NULL
  obj
}

# Stops at the first row whose detected value is not 0 or 1.
check.detected <- function(data) {
  det <- data$detected
  bad <- which(is.na(det) | !det %in% c(0, 1))
  if (length(bad)) {
    stop("object ", data$object[bad[1]], " has detected value '", det[bad[1]],
         "'; detected must be 0 or 1", call. = FALSE)
  }
}

double.objects <- function(data) {
  obs <- data$observer
  det <- data$detected
  key <- as.character(data$object)
  bad <- which(is.na(obs) | !obs %in% c(1, 2))
  if (length(bad)) {
    stop("object ", key[bad[1]], " has observer value '", obs[bad[1]],
         "'; observers must be 1 or 2", call. = FALSE)
  }
  check.detected(data)
  ord <- unique(key)
  r1 <- which(obs == 1); r2 <- which(obs == 2)
  c1 <- tabulate(match(key[r1], ord), length(ord))
  c2 <- tabulate(match(key[r2], ord), length(ord))
  bad <- which(c1 != 1 | c2 != 1)
  if (length(bad)) {
    b <- bad[1]
    stop("object ", ord[b], " has ", c1[b], " row(s) for observer 1 and ", c2[b],
         " for observer 2; double-observer data need one row for each observer", call. = FALSE)
  }
  i1 <- r1[match(ord, key[r1])]
  i2 <- r2[match(ord, key[r2])]
  d1 <- det[i1]; d2 <- det[i2]
  none <- which(d1 == 0 & d2 == 0)
  if (length(none)) {
    stop("object ", ord[none[1]], " was detected by neither observer (detected is 0 in both rows)",
         call. = FALSE)
  }
  # the object's distance and covariates come from observer 1's row when
  # observer 1 saw it, else from observer 2's row
  pick <- ifelse(d1 == 1, i1, i2)
  obj <- data[pick, , drop = FALSE]
  obj$d1 <- as.numeric(d1)
  obj$d2 <- as.numeric(d2)
  obj
}

print.ddf <- function(x, ...) {
  cat("Detection function fitted by method ", x$method, " (", x$info$text, ")\n", sep = "")
  cat("Objects: ", x$n, "   parameters: ", x$npar, "   AIC: ", format(x$AIC, digits = 8),
      "   average p: ", format(x$average.p, digits = 5), "\n", sep = "")
  note <- small.sample.note(x)
  if (!is.null(note)) cat(note, "\n", sep = "")
  invisible(x)
}
