# Evaluation of a fitted model's detection functions at arbitrary
# distances, for goodness of fit and plots. Objects are addressed by their
# index j among the objects used for abundance (model$ht); the functions are
# vectorised elementwise over (j, x).

# Linear predictor of the mr model for objects (rows of the object table)
# at distances x and for one observer.
mr.eta <- function(model, rows, x, observer) {
  nd <- take.rows(model$data, rows, all.vars(model$mr$formula))
  nd$distance <- rep_len(x, length(rows))
  drop(mr.X(model$mr$setup, nd, observer) %*% model$mr$par)
}

# The columns `vars` (those present) of a data frame at `rows`, which may
# repeat: a plain data frame without row names, since making the names of
# repeated rows unique costs far more than the columns themselves.
take.rows <- function(df, rows, vars = names(df)) {
  list2DF(lapply(unclass(df)[intersect(vars, names(df))], `[`, rows), nrow = length(rows))
}

# Conditional detection probability of one observer given the covariates.
cond.p <- function(model, rows, x, observer) plogis(mr.eta(model, rows, x, observer))

# Key function of the ds part for HT objects j at distances x.
ds.g <- function(model, j, x) {
  m <- model$ds$setup
  sc <- ds.scale(model$ds$par, m)[j]
  key.g(m$key, x, sc, ds.shape(model$ds$par, m))
}

# The function whose normalised form is the density of the detected
# distances: the key function (ds and point independence) or the combined
# detection probability of the mr model (full independence).
dist.h <- function(model, j, x) {
  if (!model$info$fi) return(ds.g(model, j, x))
  rows <- model$ht[j]
  e1 <- mr.eta(model, rows, x, 1)
  e2 <- if (model$info$mode == "io") mr.eta(model, rows, x, 2) else NULL
  mr.pcombined(model$info$mode, e1, e2)
}

# Unconditional detection function of the pooled observers (observer 1 for
# the trial methods).
pooled.g <- function(model, j, x) {
  h <- dist.h(model, j, x)
  if (model$info$double && !model$info$fi) h <- h * model$p0[j]
  h
}

# Integrals of dist.h over [a, b] for HT objects j (vectors recycled to one
# length).
int.h <- function(model, j, a, b) {
  n <- max(length(j), length(a), length(b))
  j <- rep_len(j, n); a <- rep_len(a, n); b <- rep_len(b, n)
  if (!model$info$fi) {
    m <- model$ds$setup
    sc <- ds.scale(model$ds$par, m)[j]
    return(key.integral(m$key, a, b, sc, ds.shape(model$ds$par, m))$v)
  }
  q <- quad.nodes(a, b, panels = 2L, k = 16L)
  v <- dist.h(model, rep(j, times = ncol(q$x)), as.vector(q$x))
  rowSums(matrix(v, nrow = n) * q$w)
}

# Default cutpoints: the data's own intervals for binned data, else equal
# intervals, about sqrt(n)/2 of them, from 3 to 10.
default.breaks <- function(model, nc = NULL) {
  meta <- model$meta.data
  if (meta$binned) {
    o <- model$data
    return(sort(unique(c(o$distbegin, o$distend))))
  }
  if (is.null(nc)) nc <- max(3L, min(10L, ceiling(sqrt(length(model$ht)) / 2)))
  seq(meta$left, meta$width, length.out = nc + 1L)
}

check.breaks <- function(model, breaks) {
  meta <- model$meta.data
  if (is.null(breaks)) return(default.breaks(model))
  breaks <- sort(unique(as.numeric(breaks)))
  tol <- 1e-8 * meta$width
  breaks <- breaks[breaks >= meta$left - tol & breaks <= meta$width + tol]
  if (!length(breaks) || abs(breaks[1] - meta$left) > tol) breaks <- c(meta$left, breaks)
  if (abs(breaks[length(breaks)] - meta$width) > tol) breaks <- c(breaks, meta$width)
  breaks[1] <- meta$left
  breaks[length(breaks)] <- meta$width
  if (length(breaks) < 2L) stop("the breaks must span the distances from left to width", call. = FALSE)
  breaks
}

# Bin of each object: its distance for exact data, the middle of its
# interval for binned data.
object.bins <- function(model, rows, breaks) {
  o <- model$data[rows, , drop = FALSE]
  x <- if (model$meta.data$binned) (o$distbegin + o$distend) / 2 else o$distance
  findInterval(x, breaks, rightmost.closed = TRUE, all.inside = TRUE)
}
