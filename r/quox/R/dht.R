# dht(): abundance and density by region and in total from a fitted
# detection function (Horvitz-Thompson estimators).
#
# Region r with area A_r, samples k of effort l_k (total L_r), covered area
# a_r = 2 (width - left) L_r convert.units:
#   N_r = A_r / a_r * sum_{i in r} s_i / p_i      (s_i = 1 for clusters)
#   D_r = N_r / A_r
# A region with area 0 (no area known) is given its covered area, so that
# its abundance is the abundance in the covered region.
#
# Var(N_r) = encounter-rate part + detection-function part. The detection
# part is the delta method over the fitted parameters (with covariances
# between regions, used for the total). The encounter-rate part by varflag:
#   0  binomial: sum s_i^2 (1 - pi_i) / pi_i^2, pi_i = p_i a_r / A_r
#   1  between-sample variance of the counts (Fewster et al. 2009, R2):
#      N_r^2 * var(n/L) / (n/L)^2
#   2  between-sample variance of the Horvitz-Thompson sums per sample
#      (Innes et al. 2002): (A_r / a_r)^2 L_r^2 var(sum_k/l_k)
# Confidence limits are log-normal with t quantiles on Satterthwaite
# degrees of freedom (K_r - 1 for the encounter rate, n - #parameters for
# the detection function). See docs/statistics.md.

dht <- function(model, region.table, sample.table, obs.table, subset = NULL, se = TRUE,
                options = list()) {
  if (!inherits(model, "ddf")) stop("dht needs a detection function fitted by ddf()", call. = FALSE)
  varflag <- options$varflag %||% 1
  if (length(varflag) != 1L || !varflag %in% c(0, 1, 2)) {
    stop("options varflag must be 0, 1 or 2", call. = FALSE)
  }
  cu <- options$convert.units %||% 1
  if (!is.numeric(cu) || length(cu) != 1L || !is.finite(cu) || cu <= 0) {
    stop("options convert.units must be a positive number", call. = FALSE)
  }
  level <- options$ci.level %||% 0.95
  units <- if (is.null(options$units)) unit.names(getOption("quox.units"), "option quox.units")
           else unit.names(options$units, "options units")
  tabs <- dht.tables(model, region.table, sample.table, obs.table)
  meta <- model$meta.data
  w.strip <- meta$width - meta$left
  reg <- tabs$regions
  smp <- tabs$samples
  nr <- nrow(reg)
  reg$covered <- 2 * w.strip * reg$effort * cu
  reg$area.used <- ifelse(reg$area > 0, reg$area, reg$covered)
  warn.covered.area(reg)
  ob <- tabs$objects
  size <- model$size

  groups <- list(clusters = rep(1, length(model$ht)))
  if (!is.null(size)) groups$individuals <- size

  npar <- length(model$par)
  df.det <- max(length(model$ht) - npar, 1)
  res <- list(method = model$method, varflag = varflag, convert.units = cu, width = meta$width,
              left = meta$left, units = units, se = se, level = level,
              regions = reg, samples = smp, nregions = nr)
  for (g in names(groups)) {
    s <- groups[[g]]
    res[[g]] <- dht.group(model, s, ob, reg, smp, varflag, se, df.det, level)
  }
  if (!is.null(size)) res$Expected.S <- dht.size(model, ob, reg, res)
  res$bysample <- dht.bysample(model, ob, smp, size)
  class(res) <- "dht"
  res
}

# Checks the three tables and links every object of the fit to its sample
# and region.
dht.tables <- function(model, region.table, sample.table, obs.table) {
  need.columns(region.table, c("Region.Label", "Area"), "the region table")
  need.columns(sample.table, c("Sample.Label", "Region.Label", "Effort"), "the sample table")
  need.columns(obs.table, c("object", "Region.Label", "Sample.Label"), "the observation table")
  if (!nrow(region.table)) stop("the region table has no rows", call. = FALSE)
  if (!nrow(sample.table)) stop("the sample table has no rows", call. = FALSE)
  rlab <- as.character(region.table$Region.Label)
  dup <- which(duplicated(label.text(rlab)))
  if (length(dup)) stop("region '", rlab[dup[1]], "' appears more than once in the region table", call. = FALSE)
  nreg <- length(rlab)
  area <- suppressWarnings(as.numeric(region.table$Area))
  area[is.na(area)] <- 0
  neg <- which(area < 0)
  if (length(neg)) stop("region '", rlab[neg[1]], "' has a negative area", call. = FALSE)

  slab <- as.character(sample.table$Sample.Label)
  reg.of <- match.labels(sample.table$Region.Label, rlab)
  bad <- which(is.na(reg.of))
  if (length(bad)) {
    stop("sample '", slab[bad[1]], "' belongs to region '", sample.table$Region.Label[bad[1]],
         "', which is not in the region table", call. = FALSE)
  }
  dup <- which(duplicated(paste(reg.of, label.text(slab), sep = "\r")))
  if (length(dup)) {
    stop("sample '", slab[dup[1]], "' of region '", sample.table$Region.Label[dup[1]],
         "' appears more than once in the sample table", call. = FALSE)
  }
  eff <- suppressWarnings(as.numeric(sample.table$Effort))
  bad <- which(is.na(eff) | eff <= 0)
  if (length(bad)) {
    stop("sample '", slab[bad[1]], "' of region '", sample.table$Region.Label[bad[1]],
         "' has effort ", format(sample.table$Effort[bad[1]]), "; effort must be positive", call. = FALSE)
  }
  empty <- which(tabulate(reg.of, nreg) == 0)
  if (length(empty)) stop("region '", rlab[empty[1]], "' has no samples in the sample table", call. = FALSE)

  objs <- model$data$object[model$ht]
  pos <- match.labels(objs, obs.table$object)
  miss <- which(is.na(pos))
  if (length(miss)) {
    stop("object ", objs[miss[1]], " of the detection function data is not in the observation table",
         call. = FALSE)
  }
  o.reg <- match.labels(obs.table$Region.Label, rlab)
  o.smp <- match.labels(obs.table$Sample.Label, slab, xprefix = o.reg, tprefix = reg.of)
  o.smp[is.na(o.reg)] <- NA
  # an object listed twice must be on the same sample both times
  okey <- label.key(obs.table$object)
  used <- okey %in% okey[pos]
  first <- match(okey, okey)
  same <- !is.na(o.smp) & !is.na(o.smp[first]) & o.smp == o.smp[first]
  twice <- which(used & duplicated(okey) & !same)
  if (length(twice)) {
    stop("object ", obs.table$object[twice[1]], " is on more than one sample in the observation table",
         call. = FALSE)
  }
  smp.of <- o.smp[pos]
  bad <- which(is.na(smp.of))
  if (length(bad)) {
    p <- pos[bad[1]]
    stop("object ", objs[bad[1]], " is on sample '", obs.table$Sample.Label[p], "' of region '",
         obs.table$Region.Label[p], "', which is not in the sample table", call. = FALSE)
  }
  regions <- data.frame(label = rlab, area = area, stringsAsFactors = FALSE)
  regions$effort <- as.vector(tapply(eff, factor(reg.of, levels = seq_len(nreg)), sum))
  regions$k <- tabulate(reg.of, nreg)
  samples <- data.frame(region = reg.of, region.label = as.character(sample.table$Region.Label),
                        label = slab, effort = eff, stringsAsFactors = FALSE)
  list(regions = regions, samples = samples,
       objects = data.frame(sample = smp.of, region = reg.of[smp.of]))
}

dht.group <- function(model, s, ob, reg, smp, varflag, se, df.det, level) {
  nr <- nrow(reg)
  ns <- nrow(smp)
  p <- model$fitted
  fac <- reg$area.used / reg$covered
  reg.f <- factor(ob$region, levels = seq_len(nr))
  smp.f <- factor(ob$sample, levels = seq_len(ns))
  nfun <- function(th) fac * totals.by(s / model$pfun(th), reg.f)
  n.hat <- fac * totals.by(s / p, reg.f)
  n.obs <- totals.by(s, reg.f)
  n.clus <- tabulate(ob$region, nr)
  out <- list(n = n.obs, nclusters = n.clus)
  if (se) {
    vdet <- matrix(0, nr, nr)
    if (length(model$par)) {
      g <- num.jacobian(nfun, model$par)
      vdet <- g %*% model$vcov %*% t(g)
    }
    er <- list(p = p, s = s, region = ob$region, fac = fac, n.hat = n.hat, n.clus = n.clus,
               smp.region = smp$region, effort = smp$effort, label = reg$label,
               per.smp.n = totals.by(s, smp.f), per.smp.ht = totals.by(s / p, smp.f))
    enc <- vapply(seq_len(nr), function(r) encounter.var(er, r, varflag), numeric(2))
    venc <- enc[1, ]
    df.enc <- enc[2, ]
    # covariance between the encounter part of region r and the detection
    # part of region q (trial methods only, see score.cov)
    cross <- matrix(0, nr, nr)
    if (!is.null(model$score.X) && length(model$par)) {
      for (r in seq_len(nr)) {
        cr <- fac[r] * score.cov(model, ifelse(ob$region == r, s / p, 0))
        cross[r, ] <- drop(g %*% model$vcov %*% cr)
      }
    }
    vr <- venc + diag(vdet) + 2 * diag(cross)
    vr <- ifelse(vr > 0, vr, venc + diag(vdet))
    df.r <- vapply(seq_len(nr), function(r) satterthwaite(c(venc[r], vdet[r, r]), c(df.enc[r], df.det)), 0)
    vt <- sum(venc) + sum(vdet) + 2 * sum(cross)
    if (vt <= 0) vt <- sum(venc) + sum(vdet)
    df.t <- satterthwaite(c(venc, sum(vdet)), c(df.enc, df.det))
    out$cross <- cross
    out$vcov.det <- vdet
    out$var.enc <- venc
    out$df.enc <- df.enc
  } else {
    vr <- rep(NA_real_, nr); vt <- NA_real_; df.r <- rep(NA_real_, nr); df.t <- NA_real_
  }
  est <- c(n.hat, sum(n.hat))
  sev <- sqrt(c(vr, vt))
  dfv <- c(df.r, df.t)
  labels <- c(reg$label, "Total")
  out$N <- est.table(labels, est, sev, dfv, level)
  area <- c(reg$area.used, sum(reg$area.used))
  out$D <- est.table(labels, est / area, sev / area, dfv, level)
  out$vcov <- if (se) out$vcov.det + diag(out$var.enc, nr) + out$cross + t(out$cross) else NULL
  out
}

# Encounter-rate variance of region r's estimate and its degrees of
# freedom, c(variance, df). er holds the fitted probabilities p and sizes s
# of the objects with their regions, the regions' factors A_r / a_r,
# estimates n.hat and numbers of clusters n.clus, the samples' regions and
# efforts, and the counts and Horvitz-Thompson sums per sample. Between-
# sample variances need detections and two samples: a region without
# detections has none, and one with a single sample is taken as Poisson.
encounter.var <- function(er, r, varflag) {
  if (varflag == 0) return(er.binomial(er, r))
  k <- which(er$smp.region == r)
  if (er$n.clus[r] == 0) return(c(0, length(k) - 1))
  if (length(k) < 2) {
    warning("region '", er$label[r], "' has only one sample, so its encounter rate variance ",
            "is taken as Poisson (var n = n)", call. = FALSE)
    return(c(er$n.hat[r]^2 / er$n.clus[r], Inf))
  }
  if (varflag == 1) er.counts(er, r, k) else er.ht.sums(er, r, k)
}

# varflag 0: binomial, sum s_i^2 (1 - pi_i) / pi_i^2 with pi_i = p_i a_r / A_r.
er.binomial <- function(er, r) {
  pii <- er$p[er$region == r] / er$fac[r]
  si <- er$s[er$region == r]
  c(sum(si^2 * (1 - pii) / pii^2), Inf)
}

# varflag 1: between-sample variance of the counts, N_r^2 var(n/L) / (n/L)^2.
er.counts <- function(er, r, k) {
  nk <- er$per.smp.n[k]
  L <- sum(er$effort[k])
  c(er$n.hat[r]^2 * rate.var(nk, er$effort[k]) / (sum(nk) / L)^2, length(k) - 1)
}

# varflag 2: between-sample variance of the Horvitz-Thompson sums,
# (A_r / a_r)^2 L_r^2 var(sum_k / l_k).
er.ht.sums <- function(er, r, k) {
  L <- sum(er$effort[k])
  c((er$fac[r] * L)^2 * rate.var(er$per.smp.ht[k], er$effort[k]), length(k) - 1)
}

# Variance of the rate sum(x) / L between samples of effort l:
# K / (L^2 (K - 1)) sum l^2 (x / l - sum(x) / L)^2.
rate.var <- function(x, l) {
  L <- sum(l)
  K <- length(l)
  K / (L^2 * (K - 1)) * sum(l^2 * (x / l - sum(x) / L)^2)
}

est.table <- function(labels, est, se, df, level) {
  cv <- ifelse(est > 0, se / est, NA_real_)
  ci <- lognormal.ci(est, cv, df, level)
  data.frame(Label = labels, Estimate = est, se = se, cv = cv, lcl = ci$lcl, ucl = ci$ucl, df = df,
             stringsAsFactors = FALSE)
}

# Expected cluster size: the ratio of individuals to clusters; its se from
# the weighted spread of the sizes (weights 1/p_i).
dht.size <- function(model, ob, reg, res) {
  s <- model$size
  w <- 1 / model$fitted
  one <- function(sel) {
    if (!any(sel)) return(c(NA_real_, NA_real_))
    ww <- w[sel]; ss <- s[sel]; n <- length(ss)
    e <- sum(ww * ss) / sum(ww)
    v <- if (n > 1) n / (n - 1) * sum(ww^2 * (ss - e)^2) / sum(ww)^2 else NA_real_
    c(e, sqrt(v))
  }
  nr <- nrow(reg)
  m <- rbind(t(vapply(seq_len(nr), function(r) one(ob$region == r), numeric(2))), one(rep(TRUE, length(s))))
  data.frame(Label = c(reg$label, "Total"), Expected.S = m[, 1], se = m[, 2], cv = m[, 2] / m[, 1],
             stringsAsFactors = FALSE)
}

dht.bysample <- function(model, ob, smp, size) {
  ns <- nrow(smp)
  f <- factor(ob$sample, levels = seq_len(ns))
  out <- data.frame(Region = smp$region.label, Sample = smp$label, Effort = smp$effort,
                    n = tabulate(ob$sample, ns), stringsAsFactors = FALSE)
  if (!is.null(size)) out$n.individuals <- totals.by(size, f)
  out$N.covered <- totals.by(1 / model$fitted, f)
  out$ER <- out$n / out$Effort
  out
}

print.dht <- function(x, cor = FALSE, bysample = FALSE, vcmatrices = FALSE, ...) {
  cat("\nDensity and abundance estimates (detection function method ", x$method, ")\n", sep = "")
  u <- lapply(x$units, unit.word)
  per.area <- u$area %||% "unit of area"
  cat("Units: distances in ", u$distance %||% "the units of the distance column",
      " (truncation ", format(x$left), " to ", format(x$width), "), effort in ",
      u$effort %||% "the units of the Effort column", ", area in ",
      u$area %||% "the units of the Area column", ".\n", sep = "")
  cat("Density is per ", per.area, "; convert.units = ",
      format(x$convert.units), " (Area / (2 width convert.units Effort) is a pure number).\n", sep = "")
  if (any(x$regions$area <= 0)) {
    cat("Regions without an area are given their covered area: their abundance is that of the covered region.\n")
  }
  cat("Encounter rate variance: varflag ", x$varflag, " (",
      switch(as.character(x$varflag), "0" = "binomial", "1" = "between samples, counts",
             "2" = "between samples, Horvitz-Thompson sums"), ")\n", sep = "")
  show.rows <- function(tab) if (x$nregions == 1L) tab[1, , drop = FALSE] else tab
  reg <- x$regions
  grp <- if (is.null(x$individuals)) "clusters" else c("clusters", "individuals")
  for (g in grp) {
    r <- x[[g]]
    what <- if (g == "clusters" && is.null(x$individuals)) "objects" else g
    cat("\nSummary statistics (", what, ")\n", sep = "")
    tot <- function(v) c(v, sum(v))
    er <- r$n / reg$effort
    st <- data.frame(Region = c(reg$label, "Total"), Area = tot(reg$area), CoveredArea = tot(reg$covered),
                     Effort = tot(reg$effort), n = tot(r$n), k = tot(reg$k),
                     ER = c(er, sum(r$n) / sum(reg$effort)), stringsAsFactors = FALSE)
    print(show.rows(fmt.table(st)), row.names = FALSE)
    cat("\nAbundance (", what, ")\n", sep = "")
    print(show.rows(fmt.table(r$N)), row.names = FALSE)
    cat("\nDensity (", what, " per ", per.area, ")\n", sep = "")
    print(show.rows(fmt.table(r$D)), row.names = FALSE)
  }
  if (!is.null(x$Expected.S)) {
    cat("\nExpected cluster size\n")
    print(show.rows(fmt.table(x$Expected.S)), row.names = FALSE)
  }
  if (bysample) {
    cat("\nEstimates by sample (N.covered: Horvitz-Thompson sum of 1/p in the covered strip)\n")
    print(fmt.table(x$bysample), row.names = FALSE)
  }
  if (vcmatrices && x$se) {
    for (g in grp) {
      r <- x[[g]]
      cat("\nVariance-covariance of the abundance estimates by region (", g, "), detection function part\n", sep = "")
      m <- r$vcov.det
      dimnames(m) <- list(reg$label, reg$label)
      print(signif(m, 6))
      cat("Encounter rate part (variances)\n")
      print(signif(setNames(r$var.enc, reg$label), 6))
    }
  }
  if (cor && x$se) {
    for (g in grp) {
      v <- x[[g]]$vcov
      d <- sqrt(diag(v))
      cm <- v / outer(d, d)
      dimnames(cm) <- list(reg$label, reg$label)
      cat("\nCorrelation of the abundance estimates by region (", g, ")\n", sep = "")
      print(round(cm, 4))
    }
  }
  cat("\n")
  invisible(x)
}

# The units named in u (a list or named character vector with any of
# distance, effort and area; NULL for none) as a list of the non-empty names.
unit.names <- function(u, what) {
  if (!length(u)) return(NULL)
  keys <- c("distance", "effort", "area")
  ok <- (is.list(u) || is.character(u)) && !is.null(names(u)) && all(names(u) %in% keys) &&
    all(vapply(u, function(v) is.character(v) && length(v) == 1L && !is.na(v), TRUE))
  if (!ok) {
    stop(what, " must be a list of unit names under distance, effort and area, such as ",
         "list(distance = \"Meter\", area = \"Square kilometer\")", call. = FALSE)
  }
  u <- lapply(as.list(u), trimws)
  u <- u[nzchar(unlist(u))]
  if (length(u)) u else NULL
}

# A unit name as a word in a sentence: "Square kilometer" becomes "square
# kilometer"; abbreviations such as "NM" stay as they are.
unit.word <- function(u) if (grepl("^[A-Z][a-z]", u)) paste0(tolower(substr(u, 1, 1)), substring(u, 2)) else u

# Sums of v by the levels of the factor f, 0 for a level without values.
totals.by <- function(v, f) {
  r <- as.vector(tapply(v, f, sum))
  r[is.na(r)] <- 0
  r
}

fmt.table <- function(tab) {
  for (nm in names(tab)) {
    if (is.numeric(tab[[nm]])) tab[[nm]] <- signif(tab[[nm]], 6)
  }
  tab
}

# A strip twice the width along the effort cannot cover more than its
# region: when it does, the distances, effort or area are not in the units
# their fields declare, and every estimate is off by the same factor.
warn.covered.area <- function(reg) {
  big <- which(reg$area > 0 & reg$covered > reg$area)
  if (!length(big)) return(invisible())
  r <- big[1]
  warning("the covered area of region '", reg$label[r], "' (2 x width x effort = ",
          format(reg$covered[r], digits = 6), ") is larger than its area (",
          format(reg$area[r], digits = 6), "): the distances or the effort are probably in a ",
          "smaller unit than their fields declare (metres declared as kilometres?), or the ",
          "area in a larger one", call. = FALSE)
}
