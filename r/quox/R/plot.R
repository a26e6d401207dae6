# plot() of a fitted detection function: one page per detection function.
#
# Unconditional pages show a histogram of the detected distances scaled so
# that a bar's height is comparable with the detection probability
# (count * W / (N_covered * bar width)), the detection function averaged
# over the population (weights 1/p_i) and, for exact distances, each
# object's fitted value. Conditional pages (double-observer methods) show,
# per interval, the proportion of the objects seen by one observer that the
# other observer also saw, with the mean fitted conditional probability.
#
# Every page's title names the model (model.title) above the page's own
# title, below a non-blank maintitle; the distance axis names the distance
# unit of options(quox.units) when it is set.

plot.ddf <- function(x, which = NULL, breaks = NULL, nc = NULL, maintitle = "", showpoints = TRUE,
                     lwd = 1, lty = 1, pch = 1, cex = 1, ...) {
  model <- x
  meta <- model$meta.data
  breaks <- if (is.null(breaks)) default.breaks(model, nc) else check.breaks(model, breaks)
  pages <- detection.pages(model)
  if (!is.null(which)) pages <- pages[which]
  grid <- seq(meta$left, meta$width, length.out = 101L)
  o <- model$data
  nht <- length(model$ht)
  wt <- 1 / model$fitted
  key <- profile.groups(model)
  xlab <- distance.label()
  for (pg in pages) {
    title <- page.title(model, pg$title, maintitle)
    if (pg$kind == "unconditional") {
      line <- grid.average(pg$f, seq_len(nht), grid, wt, key[model$ht])
      sel <- pg$subset
      cnt <- tabulate(object.bins(model, sel, breaks), length(breaks) - 1L)
      height <- cnt * (meta$width - meta$left) / (model$Nhat * diff(breaks))
      pts <- NULL
      if (!meta$binned && showpoints && length(sel)) {
        j <- match(sel, model$ht)
        pts <- list(x = o$distance[sel], y = pg$f(j, o$distance[sel]))
      }
    } else {
      sel <- pg$subset
      bins <- object.bins(model, sel, breaks)
      nb <- length(breaks) - 1L
      tot <- tabulate(bins, nb)
      hit <- tabulate(bins[pg$hit], nb)
      height <- ifelse(tot > 0, hit / pmax(tot, 1), 0)
      line <- grid.average(pg$f, sel, grid, rep(1, length(sel)), key[sel])
      pts <- NULL
      if (!meta$binned && showpoints && length(sel)) {
        pts <- list(x = o$distance[sel], y = pg$f(sel, o$distance[sel]))
      }
    }
    ylim <- c(0, max(1, height, line, na.rm = TRUE) * 1.05)
    plot(NA, xlim = c(meta$left, meta$width), ylim = ylim, xlab = xlab,
         ylab = "Detection probability", main = title, cex.main = title.cex(title), ...)
    rect(breaks[-length(breaks)], 0, breaks[-1L], height)
    lines(grid, line, lwd = lwd, lty = lty)
    if (!is.null(pts)) points(pts$x, pts$y, pch = pch, cex = cex)
  }
  invisible(NULL)
}

# The weighted average over the objects idx of f(idx, x) at each distance x
# of the grid. Objects of one profile (key, the same for idx[i] and idx[k]
# when f gives them the same values) are evaluated once with their summed
# weight, and the grid one point at a time, so that time and memory stay
# linear in the number of objects.
grid.average <- function(f, idx, grid, wt, key) {
  if (!length(idx)) return(rep(NaN, length(grid)))
  first <- which(!duplicated(key))
  wt <- as.vector(rowsum(wt, match(key, key[first]), reorder = FALSE))
  idx <- idx[first]
  vapply(grid, function(x) sum(f(idx, rep(x, length(idx))) * wt), 0) / sum(wt)
}

# The profile of every row of the object table: rows with the same values
# of the covariates of the ds and mr formulas (distance and observer aside)
# have the same detection functions.
profile.groups <- function(model) {
  vars <- setdiff(c(all.vars(model$ds$formula), all.vars(model$mr$formula)), c("distance", "observer"))
  cols <- lapply(unclass(model$data)[intersect(vars, names(model$data))],
                 function(v) if (is.numeric(v)) v else match(as.character(v), unique(as.character(v))))
  if (!length(cols)) return(rep(1L, nrow(model$data)))
  do.call(row.groups, unname(cols))$group
}

# The model a fit shows, in one line: the method, the key and the ds and mr
# formulas that it has, e.g. "io: hn key, ds ~1, mr ~distance",
# "ds: hr key, ~1" or "io.fi: mr ~distance + sex".
model.title <- function(model) {
  f <- function(x) gsub("\\s+", " ", paste(deparse(x, width.cutoff = 500L), collapse = " "))
  parts <- character(0)
  if (!is.null(model$ds)) parts <- paste(model$ds$key, "key")
  if (is.null(model$mr)) {
    parts <- c(parts, f(model$ds$formula))
  } else {
    if (!is.null(model$ds)) parts <- c(parts, paste("ds", f(model$ds$formula)))
    parts <- c(parts, paste("mr", f(model$mr$formula)))
  }
  paste0(model$method, ": ", paste(parts, collapse = ", "))
}

# The title of a page: the caller's title unless blank, the model and the
# page's own title, one a line.
page.title <- function(model, title, main = "") {
  main <- if (is.character(main) && length(main) == 1L && nzchar(trimws(main))) main
  paste(c(main, model.title(model), title), collapse = "\n")
}

# The size of a title (cex.main) that keeps its longest line within the
# figure on the current device; titles are centred on the plot region.
title.cex <- function(title) {
  cex <- graphics::par("cex.main")
  w <- max(graphics::strwidth(strsplit(title, "\n", fixed = TRUE)[[1]], units = "inches", cex = cex,
                              font = graphics::par("font.main")))
  mai <- graphics::par("mai")
  room <- 0.96 * (graphics::par("fin")[1] - mai[2] - mai[4] + 2 * min(mai[2], mai[4]))
  if (w > room) cex * room / w else cex
}

# The label of the distance axis: "Distance (Meter)" with the distance unit
# of options(quox.units), "Distance" without.
distance.label <- function() {
  u <- unit.names(getOption("quox.units"), "option quox.units")$distance
  if (is.null(u)) "Distance" else paste0("Distance (", u, ")")
}

# The pages of a method: unconditional functions take indices among the
# abundance objects (model$ht); conditional ones take rows of the object
# table.
detection.pages <- function(model) {
  info <- model$info
  o <- model$data
  all.rows <- seq_len(nrow(o))
  pooled <- function(j, x) pooled.g(model, j, x)
  if (!info$double) {
    return(list(list(kind = "unconditional", title = "Detection probability", f = pooled,
                     subset = model$ht)))
  }
  p1 <- function(rows, x) cond.p(model, rows, x, 1)
  p2 <- function(rows, x) cond.p(model, rows, x, 2)
  # conditional probability, given detection by either, of each history
  share <- function(j, x, which) {
    rows <- model$ht[j]
    a <- p1(rows, x)
    b <- if (info$mode == "io") p2(rows, x) else a
    pd <- 1 - (1 - a) * (1 - b)
    switch(which, one = a / pd, two = b / pd, both = a * b / pd)
  }
  if (info$mode == "io") {
    list(
      list(kind = "unconditional", title = "Observer 1 detections",
           f = function(j, x) pooled(j, x) * share(j, x, "one"), subset = which(o$d1 == 1)),
      list(kind = "unconditional", title = "Observer 2 detections",
           f = function(j, x) pooled(j, x) * share(j, x, "two"), subset = which(o$d2 == 1)),
      list(kind = "unconditional", title = "Duplicate detections",
           f = function(j, x) pooled(j, x) * share(j, x, "both"), subset = which(o$d1 == 1 & o$d2 == 1)),
      list(kind = "unconditional", title = "Pooled detections", f = pooled, subset = all.rows),
      list(kind = "conditional", title = "Conditional detection probability: observer 1 given observer 2",
           f = p1, subset = which(o$d2 == 1), hit = o$d1[o$d2 == 1] == 1),
      list(kind = "conditional", title = "Conditional detection probability: observer 2 given observer 1",
           f = p2, subset = which(o$d1 == 1), hit = o$d2[o$d1 == 1] == 1))
  } else if (info$mode == "trial") {
    list(
      list(kind = "unconditional", title = "Observer 1 detections", f = pooled, subset = model$ht),
      list(kind = "conditional", title = "Conditional detection probability: observer 1 given observer 2",
           f = p1, subset = which(o$d2 == 1), hit = o$d1[o$d2 == 1] == 1))
  } else {
    list(
      list(kind = "unconditional", title = "Observer 1 detections",
           f = function(j, x) pooled(j, x) * share(j, x, "one"), subset = which(o$d1 == 1)),
      list(kind = "unconditional", title = "Pooled detections", f = pooled, subset = all.rows),
      list(kind = "conditional", title = "Conditional detection probability: observer 1 given detection",
           f = function(rows, x) 1 / (2 - p1(rows, x)), subset = all.rows, hit = o$d1 == 1))
  }
}
